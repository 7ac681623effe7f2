// A whole family's settings to and from the device, through the port
// hand-over: every setting read with its retries, changed ones written by the
// one setting-write routine, then every setting read back.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/settings_file.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane {

struct SettingsReading {
    bool port_opened = false;
    std::vector<uint16_t> wire;  // one per row of file_settings(family), once all are read
    std::string unread;          // the first setting no reply was accepted for
    bool complete() const { return port_opened && unread.empty(); }
};

// Borrows the port and reads every setting of the family, stopping at the
// first one the device does not answer for. The values land in the state as
// a poll pass would leave them.
SettingsReading read_all_settings(SerialPort& port, DeviceState& state, Family family);

struct AppliedSetting {
    const FileSetting* setting;
    uint16_t before;
    uint16_t wanted;
    bool to_write = true;  // false: equal at the preview, found different at the read-back
    bool sent = false;
    std::optional<uint16_t> held;  // read back after the writes; empty when not read
    bool confirmed() const { return held && *held == wanted; }
};

struct ApplyResult {
    // The changed ones, and any other setting of the file that the read-back
    // finds different from the file (changed meanwhile on the device), in
    // file order.
    std::vector<AppliedSetting> settings;
    bool all_sent = true;  // every frame went out on an open port
    SettingsReading read_back;
    bool all_confirmed() const;
};

// Writes the changed rows of `rows` one by one, the worker parked for the
// whole of it, then reads every setting back. Nothing is written for rows
// that are not changed; after a frame that did not go out, nothing more is.
ApplyResult apply_settings(SerialPort& port, DeviceState& state, Family family,
                           std::span<const SettingDiff> rows);

}  // namespace zorvane
