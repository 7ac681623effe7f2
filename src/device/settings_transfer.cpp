#include "device/settings_transfer.h"

#include <algorithm>
#include <string_view>

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

// Whether writing `row` now creates an inverted pair that was not inverted
// before, with `held` the values the device holds at that moment.
bool inverts_a_pair(std::span<const SettingDiff> rows, const std::vector<uint16_t>& held,
                    size_t row) {
    const auto index = [&rows](const char* name) {
        for (size_t i = 0; i < rows.size(); ++i) {
            if (std::string_view(rows[i].setting->name) == name)
                return i;
        }
        return rows.size();
    };
    for (const SettingOrder& order : setting_orders()) {
        const size_t low = index(order.lower);
        const size_t high = index(order.upper);
        if (low == rows.size() || high == rows.size() || (row != low && row != high))
            continue;
        std::vector<uint16_t> after = held;
        after[row] = *rows[row].file;
        if (held[low] < held[high] && after[low] >= after[high])
            return true;
    }
    return false;
}

// The changed rows in an order that never makes the device hold an inverted
// pair on the way (raising UbatLow before UbatMin follows it up): each step
// the first row that inverts nothing. Rows that cannot go without an
// inversion (the file itself inverts a pair; refused before) keep file order.
std::vector<size_t> write_order(std::span<const SettingDiff> rows) {
    std::vector<uint16_t> held;
    std::vector<size_t> pending;
    for (size_t i = 0; i < rows.size(); ++i) {
        held.push_back(rows[i].device);
        if (rows[i].changed())
            pending.push_back(i);
    }
    std::vector<size_t> order;
    while (!pending.empty()) {
        auto next = std::find_if(pending.begin(), pending.end(),
                                 [&](size_t i) { return !inverts_a_pair(rows, held, i); });
        if (next == pending.end())
            next = pending.begin();
        held[*next] = *rows[*next].file;
        order.push_back(*next);
        pending.erase(next);
    }
    return order;
}

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
    for (const size_t index : write_order(rows)) {
        const SettingDiff& row = rows[index];
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
    for (const SettingDiff& row : rows) {
        if (!row.file)
            continue;
        const uint16_t held = result.read_back.wire[static_cast<size_t>(row.setting - all.data())];
        if (row.changed()) {
            // Reported in file order, whatever order they were written in.
            const auto written =
                std::find_if(result.settings.begin(), result.settings.end(),
                             [&row](const AppliedSetting& s) { return s.setting == row.setting; });
            written->held = held;
            checked.push_back(*written);
        } else if (row.applies && held != *row.file) {
            checked.push_back({row.setting, row.device, *row.file, false, false, held});
        }
    }
    result.settings = std::move(checked);
    return result;
}

}  // namespace zorvane
