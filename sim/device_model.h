// A simulated KX or QM device: answers every request of the protocol from a
// set of raw wire values, takes writes and actions, counts its lifetime, and
// misbehaves on demand. No I/O and no clock of its own: the transport feeds it
// bytes and tells it how much time has passed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/discovery.h"
#include "sim/faults.h"
#include "sim/replay.h"
#include "sim/request_framer.h"
#include "state/device_state.h"
#include "state/models.h"

namespace zorvane::sim {

struct DeviceConfig {
    DeviceModel model = DeviceModel::KX24;
    // None: the device has no serial number and answers 0xFF ("не назначен").
    std::optional<std::string> serial;
    // Battery voltage in tenths of a volt (0x45 and word 3 of 0x41); the
    // model's usual value when empty.
    std::optional<uint16_t> battery;
};

const char* model_name(DeviceModel model);  // "KX-24" …
std::optional<DeviceModel> parse_model(std::string_view name);
bool is_qm(DeviceModel model);

class SimDevice {
  public:
    explicit SimDevice(const DeviceConfig& config);

    DeviceModel model() const { return m_model; }

    // Bytes from the line; one plan for every request that gets an answer
    // (or hangs the line up), in order.
    std::vector<ReplyPlan> receive(std::span<const uint8_t> bytes);
    // One whole request frame; nothing when the device stays silent.
    std::optional<ReplyPlan> respond(std::span<const uint8_t> frame);

    // Readings and settings as raw wire values, by read code: the word (or, for
    // one-byte replies, the byte) at `index` of the reply's payload.
    uint16_t value(uint8_t code, int index = 0) const;
    void set_value(uint8_t code, uint16_t raw, int index = 0);
    void set_battery(uint16_t tenths_of_volt) { set_value(0x41, tenths_of_volt, 3); }

    // Status bytes s1, s2, s3 (s3 is sent in the QM form only).
    uint8_t status_byte(int i) const { return m_status[static_cast<size_t>(i)]; }
    void set_status_byte(int i, uint8_t value) { m_status[static_cast<size_t>(i)] = value; }
    bool generating() const;
    // One status bit by its registry name ("source_present", "battery_low"),
    // for a mains failure or a battery running low while the unit is polled;
    // false when the family has no such bit.
    bool set_status_bit(std::string_view name, bool on);

    // Lifetime counters as the device counts them and as it sends them
    // (whole, limited to the width of their field).
    double counter(int k) const { return m_counters[static_cast<size_t>(k)]; }
    void set_counter(int k, double value) { m_counters[static_cast<size_t>(k)] = value; }
    CounterValues counters() const;

    // Time passes: operating times, energy and fan time grow; in live mode
    // the readings wander a little.
    void advance(double seconds);
    void set_live(bool live) { m_live = live; }

    // What the device has received: every well-formed frame, in order, and
    // the count of all bytes (well-formed or not).
    const std::vector<std::vector<uint8_t>>& received() const { return m_received; }
    size_t received_bytes() const { return m_received_bytes; }
    size_t skipped_bytes() const { return m_framer.skipped_bytes(); }
    void clear_log();
    // A partial frame is forgotten (the line went idle or was closed).
    void drop_partial_frame() { m_framer.drop_partial(); }

    FaultList& faults() { return m_faults; }

    // A captured unit: every request answered from its trace instead (the
    // faults still apply); null: the device's own answers again.
    void set_replay(std::shared_ptr<ReplayUnit> replay) { m_replay = std::move(replay); }

  private:
    std::vector<uint8_t> reply_to_read(uint8_t code, const std::vector<Fault>& faults) const;
    std::vector<uint8_t> status_reply(bool other_form) const;
    std::vector<uint8_t> counters_reply(bool other_length) const;
    std::vector<uint8_t> take_write(std::span<const uint8_t> frame, bool store);
    uint16_t reported(uint8_t code, int index) const;

    DeviceModel m_model;
    std::array<uint8_t, 10> m_serial{};
    std::array<std::array<uint16_t, 8>, 256> m_values{};
    std::array<uint8_t, 3> m_status{};
    std::array<double, kCounterCount> m_counters{};
    double m_clock = 0;  // seconds since switch-on
    bool m_live = false;

    std::shared_ptr<ReplayUnit> m_replay;
    RequestFramer m_framer;
    FaultList m_faults;
    std::vector<std::vector<uint8_t>> m_received;
    size_t m_received_bytes = 0;
};

// The counters reply of `length` bytes (45 or 47) carrying `values`. Counters
// 10 to 16 go out as two bytes that add up to the count, as the device does.
std::vector<uint8_t> encode_counters(const CounterValues& values, int length);

}  // namespace zorvane::sim
