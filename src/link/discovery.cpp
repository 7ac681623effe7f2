#include "link/discovery.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <thread>

#include "link/frame.h"
#include "link/net_port.h"

namespace zorvane {

namespace {

constexpr int kWakeUpLength = 13;
constexpr const char* kSerialLabel = "S/N: ";

using Buffer = std::array<uint8_t, kFrameBufferSize>;

// Sends a bare read request; the reply lands at the start of `buffer`.
int request(SerialPort& port, Buffer& buffer, uint8_t code, int expected_length) {
    const int length = build_request(buffer, code);
    return transact(port, buffer, length, expected_length);
}

// The probe proper, on a port that is open; closing is the caller's.
// The probe ends at the first link failure: the port is gone, and the
// failure is told once, not once for every probe still to come (probes of
// several ports run at once, so the window could not fold them into one box).
bool probe_goes_on(const SerialPort& port, const std::stop_token& stop) {
    return !port.link_failed() && !stop.stop_requested();
}

std::optional<FoundDevice> identify(SerialPort& port, const PortInfo& target,
                                    const std::stop_token& stop) {
    Buffer buffer{};

    // Wake-up: a line of zero bytes; whatever comes back is ignored.
    transact(port, buffer, kWakeUpLength, 0);

    // The battery probe goes out twice; the voltage class rests on both
    // answers, the model on the second. A first answer that fails its checks
    // is made up for by further probes, so that two readings are compared.
    if (!probe_goes_on(port, stop)) {
        return std::nullopt;
    }
    const int first_count = request(port, buffer, cmd::kBatteryProbe, 0);
    std::optional<float> first;
    if (battery_reply_valid(buffer.data(), first_count)) {
        first = decode_battery_voltage(buffer.data());
    }
    if (!probe_goes_on(port, stop)) {
        return std::nullopt;
    }
    const int battery_count = request(port, buffer, cmd::kBatteryProbe, 0);
    if (!battery_reply_valid(buffer.data(), battery_count) || !probe_goes_on(port, stop)) {
        return std::nullopt;
    }
    const float battery_voltage = decode_battery_voltage(buffer.data());
    for (int extra = 0; !first && extra < kExtraBatteryProbes; ++extra) {
        const int count = request(port, buffer, cmd::kBatteryProbe, 0);
        if (!probe_goes_on(port, stop)) {
            return std::nullopt;
        }
        if (battery_reply_valid(buffer.data(), count)) {
            first = decode_battery_voltage(buffer.data());
        }
    }

    // The reply's form (5 bytes for a KX, 6 for a QM) tells the families
    // apart; the reads end as soon as either form is whole. A reply that
    // fails its checks is asked for again, as every other read is: one lost
    // reply must not make a QM a KX-24.
    int status_count = 0;
    bool status_passed = false;
    for (int attempt = 0; attempt < kStatusProbeAttempts && !status_passed; ++attempt) {
        const int status_length = build_request(buffer, cmd::kStatus);
        status_count = transact_until(port, buffer, status_length, status_probe_complete);
        if (!probe_goes_on(port, stop)) {
            return std::nullopt;
        }
        status_passed = status_reply_valid(buffer.data(), status_count);
    }
    const DeviceModel model = identify_model(buffer.data(), status_count, battery_voltage);
    Identification identification;
    identification.model_established = status_passed;
    identification.battery_readings = {first.value_or(battery_voltage), battery_voltage};
    identification.battery_class = first ? class_of_readings(*first, battery_voltage)
                                         : (battery_voltage > kBatterySplitVolts ? 48 : 24);

    const int serial_count = request(port, buffer, cmd::kSerialNumber, kSerialNumberLength);
    if (!serial_reply_valid(buffer.data(), serial_count)) {
        return std::nullopt;
    }

    FoundDevice found;
    found.port = target.com;
    found.path = target.path;
    found.model = model;
    found.serial = decode_serial_number(buffer.data());
    found.identification = identification;
    found.caption = std::string(model_profile(model).name) + ". " + kSerialLabel + found.serial;
    return found;
}

}  // namespace

DeviceModel identify_model(const uint8_t* status_reply, int count, float battery_voltage) {
    if (!status_reply_valid(status_reply, count)) {
        return DeviceModel::KX24;  // such a device is still polled, as a KX-24
    }
    const bool high_voltage = battery_voltage > kBatterySplitVolts;
    if (count == kStatusShortLength) {
        return high_voltage ? DeviceModel::KX48 : DeviceModel::KX24;
    }
    return high_voltage ? DeviceModel::QM48 : DeviceModel::QM24;
}

int32_t class_of_readings(float first, float second) {
    const bool high_first = first > kBatterySplitVolts;
    const bool high_second = second > kBatterySplitVolts;
    if (high_first != high_second) {
        return kClassReadingsDisagree;
    }
    return high_first ? 48 : 24;
}

void store_polled_device(DeviceState& state, const FoundDevice& device) {
    state.g_com_port.store(device.port);
    state.g_device_kind.store(kind_of(device.family()));
    store_identification(state, device.identification);
}

bool status_probe_complete(const uint8_t*, int count) {
    return count >= kStatusShortLength;
}

bool FoundDevice::has_serial() const {
    return !serial.empty() && serial != kSerialNotAssigned;
}

ProbeResult probe(SerialPort& port, const PortInfo& target, std::stop_token stop) {
    ProbeResult result;
    result.open = port.open_path(target.path);
    if (!result.open) {
        return result;
    }
    result.device = identify(port, target, stop);
    port.close();
    return result;
}

std::optional<FoundDevice> probe_port(SerialPort& port, int com_port) {
    PortInfo target;
    target.com = com_port;
    target.path = resolve_port_path(com_port);
    if (target.path.empty()) {
        return std::nullopt;
    }
    return probe(port, target).device;
}

std::vector<PortInfo> SearchResult::unusable() const {
    std::vector<PortInfo> out;
    for (const PortInfo& port : ports) {
        if (port.access.access == PortAccess::NoPermission ||
            port.access.access == PortAccess::Busy) {
            out.push_back(port);
        }
    }
    return out;
}

SearchResult search_devices(DeviceState& state, const SearchOptions& options) {
    SearchResult result;
    if (options.ports) {
        result.ports = *options.ports;
    } else {
        // The window and the polling keep a device by its COM number: a port
        // outside the table is reached by its path alone (--port).
        for (PortInfo& port : list_ports()) {
            if (port.com > 0) {
                result.ports.push_back(std::move(port));
            }
        }
        // The network bridges the technician has added, after the machine's
        // own ports, each under a number of its own.
        for (const std::string& address : searched_network_ports()) {
            PortInfo port;
            port.path = address;
            port.com = com_port_for_path(address);
            result.ports.push_back(std::move(port));
        }
    }
    const size_t count = result.ports.size();
    std::vector<std::optional<FoundDevice>> finds(count);

    // Each probe has its own port object; a silent port costs its three
    // unanswered reads whatever the others do, so they all run at once (up
    // to a limit) and the search takes about as long as its slowest port.
    std::mutex observer_mutex;
    std::atomic<size_t> next{0};
    const std::stop_token stop = options.stop;
    auto worker = [&] {
        SerialPort port(options.backend());
        for (size_t i = next++; i < count && !stop.stop_requested(); i = next++) {
            PortInfo& target = result.ports[i];
            if (options.observer != nullptr) {
                std::lock_guard lock(observer_mutex);
                options.observer->probing(target);
            }
            ProbeResult probed = probe(port, target, stop);
            target.access = probed.open;
            if (options.observer != nullptr) {
                std::lock_guard lock(observer_mutex);
                options.observer->probed(target, probed);
            }
            finds[i] = std::move(probed.device);
        }
    };
    const size_t threads = std::min(count, static_cast<size_t>(std::max(1, options.max_parallel)));
    {
        std::vector<std::jthread> pool;
        for (size_t t = 1; t < threads; ++t) {
            pool.emplace_back(worker);
        }
        if (threads > 0) {
            worker();
        }
    }
    result.cancelled = stop.stop_requested();

    for (std::optional<FoundDevice>& device : finds) {
        if (!device) {
            continue;
        }
        // Each find replaces the previous one: the device on the highest
        // port is the one that will be polled.
        store_polled_device(state, *device);
        result.found.push_back(std::move(*device));
    }
    return result;
}

std::vector<FoundDevice> scan_devices(DeviceState& state) {
    return search_devices(state).found;
}

}  // namespace zorvane
