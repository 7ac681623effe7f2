#include "device/settings_transfer.h"

#include "device/handover.h"
#include "device/poll_cycle.h"
#include "link/reply_catalogue.h"

namespace zorvane {

namespace {

const ReplyEntry* read_entry(const FileSetting& setting) {
    return find_reply(setting.variable->read_code);
}

// The worker stays parked from the first write to the end of the read-back,
// so that no pass runs between them; each write's own loan then leaves the
// pause as it found it.
class ParkedWorker {
  public:
    explicit ParkedWorker(DeviceState& state)
        : m_state(state), m_was_paused(state.g_poll_pause.load() != 0) {
        park_worker(m_state);
    }
    ~ParkedWorker() {
        if (!m_was_paused)
            release_worker(m_state);
    }
    ParkedWorker(const ParkedWorker&) = delete;
    ParkedWorker& operator=(const ParkedWorker&) = delete;

  private:
    DeviceState& m_state;
    bool m_was_paused;
};

}  // namespace

SettingsReading read_all_settings(SerialPort& port, DeviceState& state, Family family) {
    SettingsReading reading;
    PortLoan loan(port, state);
    reading.port_opened = loan.opened();
    if (!reading.port_opened)
        return reading;
    const std::span<const FileSetting> rows = file_settings(family);
    for (const FileSetting& row : rows) {
        const ReplyEntry* entry = read_entry(row);
        if (entry == nullptr || !read_with_retry(port, state, *entry)) {
            reading.unread = row.name;
            return reading;
        }
    }
    for (const FileSetting& row : rows) reading.wire.push_back(stored_wire(state, row));
    return reading;
}

bool ApplyResult::all_confirmed() const {
    for (const AppliedSetting& s : settings) {
        if (!s.confirmed())
            return false;
    }
    return all_sent && read_back.complete();
}

ApplyResult apply_settings(SerialPort& port, DeviceState& state, Family family,
                           std::span<const SettingDiff> rows) {
    ApplyResult result;
    ParkedWorker parked(state);
    for (const SettingDiff& row : rows) {
        if (!row.changed())
            continue;
        AppliedSetting applied{row.setting, row.device, *row.file, true, false, std::nullopt};
        if (result.all_sent) {
            const SettingDecision decision =
                write_setting_wire(port, state, row.setting->write, *row.file);
            applied.sent = decision.kind == SettingDecision::Kind::Send && decision.sent;
            result.all_sent = applied.sent;
        }
        result.settings.push_back(applied);
    }
    result.read_back = read_all_settings(port, state, family);
    if (!result.read_back.complete())
        return result;
    // The whole file is checked against what the device now holds: a
    // setting changed on the device while the preview was open is not
    // reported as matching.
    const std::span<const FileSetting> all = file_settings(family);
    std::vector<AppliedSetting> checked;
    auto next = result.settings.begin();
    for (const SettingDiff& row : rows) {
        if (!row.file)
            continue;
        const uint16_t held = result.read_back.wire[static_cast<size_t>(row.setting - all.data())];
        if (row.changed()) {
            next->held = held;
            checked.push_back(*next++);
        } else if (row.applies && held != *row.file) {
            checked.push_back({row.setting, row.device, *row.file, false, false, held});
        }
    }
    result.settings = std::move(checked);
    return result;
}

}  // namespace zorvane
