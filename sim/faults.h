// Faults a simulated device shows on demand, so that tests can make the line
// misbehave the way real cables, adapters and firmware do.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zorvane::sim {

using Micros = std::chrono::microseconds;

enum class FaultKind {
    Silence,              // no reply at all
    Garbage,              // bytes that are no frame instead of the reply
    Truncate,             // only the first `size` bytes of the reply
    Corrupt,              // byte `size` of the reply changed by noise (XOR `bytes[0]`)
    Split,                // the reply in two bursts, cut after `size` bytes, `gap` apart
    ExtraBytes,           // `bytes` sent straight after the reply
    OtherStatusForm,      // 0x4A answered in the other family's form
    OtherCountersLength,  // 0x53 answered with the other family's length
    Late,                 // the reply held back by `delay`
    WriteNonsense,        // writes and actions answered with `bytes` (or garbage)
    IgnoreWrites,         // writes and actions acknowledged as usual but without effect
    HangUp,               // the line drops instead of the reply
};

// One fault: which requests it hits and for how long.
struct Fault {
    FaultKind kind = FaultKind::Silence;
    std::optional<uint8_t> code;  // only requests with this code; any request when empty
    int count = -1;               // replies it affects; negative = until cleared
    int after = 0;                // requests it would hit that it lets pass first
    size_t size = 0;              // Truncate: bytes kept; Split: bytes of the first burst
    Micros gap{8000};            // Split: pause between the bursts (the reader gives up after 5 ms)
    Micros delay{700000};        // Late: longer than a silent read of 100 bytes (550 ms)
    std::vector<uint8_t> bytes;  // ExtraBytes, WriteNonsense, Garbage (empty: a fixed pattern)
};

// The helpers tests use.
namespace fault {
Fault silence(std::optional<uint8_t> code = {}, int count = -1);
Fault drop_next_reply();
// The device stays silent to the first k-1 requests of `code` and answers the k-th.
Fault answer_at_attempt(uint8_t code, int k);
Fault garbage(std::optional<uint8_t> code = {}, int count = -1);
Fault truncate(uint8_t code, size_t keep, int count = -1);
Fault corrupt(uint8_t code, size_t at, uint8_t flip, int count = -1);
Fault split(std::optional<uint8_t> code, size_t first_burst, Micros gap = Micros{8000},
            int count = -1);
Fault extra_bytes(std::optional<uint8_t> code, std::vector<uint8_t> bytes, int count = -1);
Fault other_status_form(int count = -1);
Fault other_counters_length(int count = -1);
Fault late(std::optional<uint8_t> code, Micros delay = Micros{700000}, int count = 1);
Fault write_nonsense(int count = -1);
// A device that refuses values: writes and actions are acknowledged and
// change nothing.
Fault ignore_writes(int count = -1);
Fault hang_up(std::optional<uint8_t> code = {});
// The write command `code` is acknowledged as usual and changes nothing.
Fault ignore_write(uint8_t code, int count = -1);
// The status request (0x4A) goes unanswered `count` times (negative: always).
Fault drop_status_reply(int count = 1);
// One bit of the battery probe's reply (0x45) flipped on the line, in the
// reply to the probe after the first `after`: bit 0 of the high byte turns
// 48.7 V (0x01E7) into 23.1 V (0x00E7).
Fault flip_battery_bit(int after = 1, uint8_t bit = 0x01);
}  // namespace fault

// What the device puts on the line for one request.
struct ReplyPlan {
    std::vector<uint8_t> bytes;
    size_t first_burst = 0;  // bytes of the first burst; 0 = all in one
    Micros gap{0};           // pause before the second burst
    Micros delay{0};         // pause before the first byte
    bool hang_up = false;    // close the line instead of replying
};

// The faults in force on one device. Each request consumes one use of every
// fault that hits it.
class FaultList {
  public:
    void add(Fault fault) { m_faults.push_back(std::move(fault)); }
    void clear() { m_faults.clear(); }
    bool empty() const { return m_faults.empty(); }

    // The faults that hit a request with this code, used up by one each.
    // `is_write` marks write and action requests (WriteNonsense hits only
    // those; OtherStatusForm and OtherCountersLength only their command).
    std::vector<Fault> take(uint8_t code, bool is_write);

  private:
    std::vector<Fault> m_faults;
};

// Bytes that fail every acceptance check: no start byte in front, no end
// byte anywhere.
std::vector<uint8_t> garbage_bytes(size_t length);

// Applies the line faults (everything but Silence and the two form faults,
// which the device itself handles) to a reply.
void apply_line_faults(ReplyPlan& plan, const std::vector<Fault>& faults, bool is_write);

}  // namespace zorvane::sim
