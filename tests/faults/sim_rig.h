// A simulated device on a pseudo-terminal as port COM3, the tool's real
// serial backend on the other end, and what the fault tests ask of them:
// a pass, values changed all over the device, and the state as an image.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "device/poll_cycle.h"
#include "link/frame.h"
#include "link/reply_catalogue.h"
#include "scoped_env.h"
#include "sim/port_directory.h"
#include "state_image.h"
#include "value_change.h"

namespace zorvane::testing {

inline constexpr int kSimPort = 3;

class SimRig {
  public:
    explicit SimRig(DeviceModel model)
        : m_qm(sim::is_qm(model)),
          device(dir.add(kSimPort, {model, "12345", {}})),
          m_env("ZORVANE_PORT_DIR", dir.path().c_str()) {}

    bool qm() const { return m_qm; }
    const char* name() const { return m_qm ? "QM" : "KX"; }

    // One pass of the family's cycle on a freshly opened port.
    void pass() {
        ASSERT_TRUE(port.open(kSimPort));
        if (m_qm) {
            poll_cycle_qm(port, state);
        } else {
            poll_cycle_kx(port, state);
        }
        port.close();
    }

    // Values B all over the device.
    void change_every_value() { device->with_device(testing::change_every_value); }

    StateImage image() const { return capture(state); }

    sim::PortDirectory dir;
    SerialPort port{make_posix_backend()};
    DeviceState state;

  private:
    bool m_qm;

  public:
    sim::SimulatedPort* device;

  private:
    ScopedEnv m_env;
};

// Image entries of the counters that run with time (operating times and
// energy): they differ from pass to pass by themselves.
inline bool runs_with_time(size_t index) {
    const std::string& name = state_names()[index];
    return name == "counter 1" || name == "counter 2" || name == "counter 3" ||
           name == "counter 4" || name == "counter 5";
}

// The image entries that step `code` of the cycle writes.
inline std::set<size_t> step_fields(uint8_t code, bool qm) {
    DeviceState s;
    fill_sentinels(s);
    const StateImage before = capture(s);
    uint8_t reply[kFrameBufferSize] = {kFrameStart, static_cast<uint8_t>(code | kReplyBit)};
    for (size_t i = 2; i < sizeof reply; ++i) {
        reply[i] = static_cast<uint8_t>(0x31 + i);
    }
    if (code == cmd::kStatus) {
        store_status(s, reply, qm ? kStatusLongLength : kStatusShortLength);
    } else if (code == cmd::kCounters) {
        s.lifetime_counters.publish(
            decode_counters(reply, qm ? kCountersQmLength : kCountersKxLength));
    } else if (const ReplyEntry* entry = find_reply(code)) {
        decode_reply(*entry, reply, s);
    }
    const StateImage after = capture(s);
    std::set<size_t> out;
    for (size_t i = 0; i < after.bits.size(); ++i) {
        if (after.bits[i] != before.bits[i]) {
            out.insert(i);
        }
    }
    return out;
}

// Each entry holds its value from `b`, except those in `kept`, which hold
// their value from `a`. Counters that run with time are left out.
inline std::string mismatches(const StateImage& got, const StateImage& a, const StateImage& b,
                              const std::set<size_t>& kept) {
    std::string out;
    for (size_t i = 0; i < got.bits.size(); ++i) {
        if (runs_with_time(i)) {
            continue;
        }
        const uint64_t want = kept.contains(i) ? a.bits[i] : b.bits[i];
        if (got.bits[i] != want) {
            out += " " + state_names()[i];
        }
    }
    return out;
}

}  // namespace zorvane::testing
