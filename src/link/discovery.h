// The search for devices on COM1..COM255 and the identification of each one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "state/device_state.h"
#include "state/models.h"

namespace zorvane {

struct FoundDevice {
    int port = 0;
    DeviceModel model = DeviceModel::KX24;
    std::string caption;  // "QM-48. S/N: 12345"
    std::string serial;   // "12345", as the caption shows it
    Family family() const { return model_profile(model).family; }
};

inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 255;

DeviceModel identify_model(const uint8_t* status_reply, int count, float battery_voltage);

// Probes COMn; the found device, or nothing when the port does not open, does
// not answer or answers a probe wrongly. Leaves the port closed.
std::optional<FoundDevice> probe_port(SerialPort& port, int com_port);

// Probes every port in ascending order; each find is stored in g_com_port and
// g_device_kind (so the last find wins) and the list is returned in port order.
std::vector<FoundDevice> scan_devices(SerialPort& port, DeviceState& state);

}  // namespace zorvane
