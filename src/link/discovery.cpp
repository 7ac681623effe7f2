#include "link/discovery.h"

#include <array>

#include "link/frame.h"

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
std::optional<FoundDevice> identify(SerialPort& port, int com_port) {
    Buffer buffer{};

    // Wake-up: a line of zero bytes; whatever comes back is ignored.
    transact(port, buffer, kWakeUpLength, 0);

    // The battery probe goes out twice; only the second answer is looked at.
    request(port, buffer, cmd::kBatteryProbe, 0);
    const int battery_count = request(port, buffer, cmd::kBatteryProbe, 0);
    if (!battery_reply_valid(buffer.data(), battery_count)) {
        return std::nullopt;
    }
    const float battery_voltage = decode_battery_voltage(buffer.data());

    // Expected length 5: a QM device's 6-byte answer overshoots it, runs out
    // the reads and comes back as 6, which is what tells the families apart.
    const int status_count = request(port, buffer, cmd::kStatus, kStatusShortLength);
    const DeviceModel model = identify_model(buffer.data(), status_count, battery_voltage);

    const int serial_count = request(port, buffer, cmd::kSerialNumber, kSerialNumberLength);
    if (!serial_reply_valid(buffer.data(), serial_count)) {
        return std::nullopt;
    }

    FoundDevice found;
    found.port = com_port;
    found.model = model;
    found.serial = decode_serial_number(buffer.data());
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

std::optional<FoundDevice> probe_port(SerialPort& port, int com_port) {
    if (!port.open(com_port)) {
        return std::nullopt;
    }
    std::optional<FoundDevice> found = identify(port, com_port);
    port.close();
    return found;
}

std::vector<FoundDevice> scan_devices(SerialPort& port, DeviceState& state) {
    std::vector<FoundDevice> found;
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        std::optional<FoundDevice> device = probe_port(port, n);
        if (!device) {
            continue;
        }
        // Each find replaces the previous one: the device on the highest
        // port is the one that will be polled.
        state.g_com_port.store(n);
        state.g_device_kind.store(kind_of(device->family()));
        found.push_back(std::move(*device));
    }
    return found;
}

}  // namespace zorvane
