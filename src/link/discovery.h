// The search for devices on the serial ports and the identification of each.
#pragma once

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "link/port_list.h"
#include "link/serial_port.h"
#include "state/device_state.h"
#include "state/models.h"

namespace zorvane {

struct FoundDevice {
    int port = 0;      // COMn; 0 for a port outside the table (named by path)
    std::string path;  // the device path it answered on
    DeviceModel model = DeviceModel::KX24;
    std::string serial;   // as decoded; "не назначен" when the device has none
    std::string caption;  // "QM-48. S/N: 12345"
    // Whether its status reply passed (else `model` is the fallback the
    // caption shows, and nothing may be written to it), and the voltage
    // class its two battery readings gave.
    Identification identification{};
    Family family() const { return model_profile(model).family; }
    // The same unit: same model and same serial number.
    bool same_unit(const FoundDevice& other) const {
        return model == other.model && serial == other.serial;
    }
    // Whether the serial number tells this unit from others of its model.
    bool has_serial() const;
};

inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 255;

DeviceModel identify_model(const uint8_t* status_reply, int count, float battery_voltage);

// The voltage class of two battery readings: 24 or 48 when both lie on one
// side of kBatterySplitVolts, else kClassReadingsDisagree.
int32_t class_of_readings(float first, float second);

// Makes `device` the polled one: g_com_port, g_device_kind and how surely it
// was identified.
void store_polled_device(DeviceState& state, const FoundDevice& device);

// The status probe is asked this often at most until a reply passes.
inline constexpr int kStatusProbeAttempts = 6;
// Battery probes sent after the two of the search until a second reading
// passes.
inline constexpr int kExtraBatteryProbes = 4;

// Whether the status probe may stop reading: once 5 bytes have come (a read
// stopped there before too) or 6 (a frame of the long form, or bytes that
// can no longer make one of either form), or more. Only a device that sends
// more bytes after a pause than a whole frame is told apart differently
// from a wait for every read, which cost a QM five seconds.
bool status_probe_complete(const uint8_t* reply, int count);

// One probe: what the open said, and the device when one answered every
// probe. Leaves the port closed. A stop request ends it between two
// transactions, with nothing found.
struct ProbeResult {
    PortOpen open;
    std::optional<FoundDevice> device;
};
ProbeResult probe(SerialPort& port, const PortInfo& target, std::stop_token stop = {});
// The same for COMn.
std::optional<FoundDevice> probe_port(SerialPort& port, int com_port);

// Told about the search as it goes, from the probing threads, one call at a
// time.
class SearchObserver {
  public:
    virtual ~SearchObserver() = default;
    virtual void probing(const PortInfo& /*port*/) {}
    virtual void probed(const PortInfo& /*port*/, const ProbeResult& /*result*/) {}
};

struct SearchOptions {
    // The ports to probe, in order; by default the ports that exist.
    std::optional<std::vector<PortInfo>> ports;
    BackendFactory backend = make_serial_backend;
    int max_parallel = 16;  // probes at once
    SearchObserver* observer = nullptr;
    std::stop_token stop;  // ends the search with what was found
};

struct SearchResult {
    std::vector<FoundDevice> found;  // in port order
    std::vector<PortInfo> ports;     // every port looked at, with what its open said
    bool cancelled = false;
    // The ports that exist but could not be used: no permission, or busy.
    std::vector<PortInfo> unusable() const;
};

// Probes the ports concurrently; the finds keep the order of the ports.
// The last device found (the one on the highest port) is stored in
// g_com_port and g_device_kind (store_polled_device), as it will be polled.
SearchResult search_devices(DeviceState& state, const SearchOptions& options = {});

// The listing of the finds alone.
std::vector<FoundDevice> scan_devices(DeviceState& state);

}  // namespace zorvane
