#include "device/poll_cycle.h"

#include <array>
#include <chrono>

#include "link/frame.h"

namespace zorvane {

namespace {

using Buffer = std::array<uint8_t, kFrameBufferSize>;

// What one pass heard from the device: whether any reply was accepted, and
// how long the device has sent no byte at all.
class PassWatch {
  public:
    // `probe`: the first read of the cycle, asked when the device has been
    // silent too long (none: silence alone decides).
    PassWatch(SerialPort& port, DeviceState& state, const ReplyEntry* probe)
        : m_port(port), m_state(state), m_probe(probe) {}

    void heard(int count) {
        const auto now = std::chrono::steady_clock::now();
        if (count > 0) {
            m_last_byte = now;
            return;
        }
        if (m_silent_too_long || now - m_last_byte < std::chrono::milliseconds(kSilenceLimitMs)) {
            return;
        }
        // Two seconds without a byte. A device that ignores only the request
        // of this step still answers the first read of the cycle; one that
        // answers nothing at all is not answering.
        if (m_probe != nullptr && !m_port.link_failed()) {
            Buffer buffer;
            const int length = build_request(buffer, m_probe->code);
            const int probe_count = transact(m_port, buffer, length, 0);
            if (probe_count > 0) {
                m_last_byte = std::chrono::steady_clock::now();
                if (reply_valid(buffer.data(), probe_count, m_probe->code, m_probe->length)) {
                    decode_reply(*m_probe, buffer.data(), m_state);
                    accepted();
                }
                return;
            }
        }
        m_silent_too_long = true;
    }
    void accepted() {
        m_accepted_any = true;
        m_state.g_device_answering.store(1);
        m_state.g_last_answer_ms.store(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count());
    }
    // Nothing at all for the silence limit, up to now.
    bool quiet_too_long() const {
        return std::chrono::steady_clock::now() - m_last_byte >=
               std::chrono::milliseconds(kSilenceLimitMs);
    }
    bool accepted_any() const { return m_accepted_any; }
    bool silent_too_long() const { return m_silent_too_long; }

  private:
    SerialPort& m_port;
    DeviceState& m_state;
    const ReplyEntry* m_probe;
    std::chrono::steady_clock::time_point m_last_byte = std::chrono::steady_clock::now();
    bool m_accepted_any = false;
    bool m_silent_too_long = false;
};

// Whether the pass must end now: a stop request, a failed link, or a device
// that has gone quiet.
bool pass_over(SerialPort& port, const PassWatch& watch, const std::stop_token& stop) {
    return stop.stop_requested() || port.link_failed() || watch.silent_too_long();
}

// The retry idiom shared by the catalogue reads and the status request: a
// bare request, one read, `accept` decides and stores. Attempts follow each
// other at once; nothing empties the input between them, so the tail of a
// late reply is read as the start of the next one and fails its checks.
template <typename Accept>
bool retry(SerialPort& port, uint8_t code, PassWatch& watch, const std::stop_token& stop,
           int attempts, Accept accept) {
    Buffer buffer;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (stop.stop_requested()) {
            return false;
        }
        const int length = build_request(buffer, code);
        const int count = transact(port, buffer, length, 0);
        watch.heard(count);
        if (accept(buffer.data(), count)) {
            watch.accepted();
            return true;
        }
        if (pass_over(port, watch, stop)) {
            return false;
        }
    }
    return false;
}

bool read_entry(SerialPort& port, DeviceState& state, const ReplyEntry& entry, PassWatch& watch,
                const std::stop_token& stop, int attempts) {
    return retry(port, entry.code, watch, stop, attempts, [&](const uint8_t* reply, int count) {
        if (!reply_valid(reply, count, entry.code, entry.length)) {
            return false;
        }
        decode_reply(entry, reply, state);
        return true;
    });
}

void read_status(SerialPort& port, DeviceState& state, PassWatch& watch,
                 const std::stop_token& stop) {
    retry(port, cmd::kStatus, watch, stop, kReadAttempts,
          [&state](const uint8_t* reply, int count) {
              if (!status_reply_valid(reply, count)) {
                  return false;
              }
              store_status(state, reply, count);
              return true;
          });
}

// Every one of the six requests is sent, even after an accepted reply, and
// each accepted reply replaces the whole block again.
void read_counters(SerialPort& port, DeviceState& state, int expected_length, PassWatch& watch,
                   const std::stop_token& stop) {
    Buffer buffer;
    for (int request = 0; request < kCountersRequests; ++request) {
        if (stop.stop_requested()) {
            return;
        }
        const int length = build_request(buffer, cmd::kCounters);
        // Ten silent reads of a counters request would take 5.5 s: once the
        // device has been quiet for the silence limit, the reads stop.
        const int count = transact(port, buffer, length, expected_length, [&watch](size_t total) {
            return total > 0 || !watch.quiet_too_long();
        });
        watch.heard(count);
        // Taken on its length alone, so it is no sign that the device
        // answers: garbage of that length passes too.
        if (counters_reply_valid(count, expected_length)) {
            state.lifetime_counters.publish(decode_counters(buffer.data(), expected_length));
        }
        if (pass_over(port, watch, stop)) {
            return;
        }
    }
}

}  // namespace

const PollCycle& kx_poll_cycle() {
    return poll_cycle_of(Family::Kx);
}

const PollCycle& qm_poll_cycle() {
    return poll_cycle_of(Family::Qm);
}

const PollCycle& poll_cycle_of(Family family) {
    static const PollCycle kx{family_profile(Family::Kx).steps,
                              family_profile(Family::Kx).counters_length};
    static const PollCycle qm{family_profile(Family::Qm).steps,
                              family_profile(Family::Qm).counters_length};
    return family == Family::Kx ? kx : qm;
}

bool read_with_retry(SerialPort& port, DeviceState& state, const ReplyEntry& entry,
                     std::stop_token stop) {
    PassWatch watch(port, state, nullptr);
    return read_entry(port, state, entry, watch, stop, kReadAttempts);
}

bool run_poll_cycle(SerialPort& port, DeviceState& state, const PollCycle& cycle,
                    std::stop_token stop) {
    const ReplyEntry* first = find_reply(cycle.steps.front().code);
    PassWatch watch(port, state, first);
    // A device that is not answering is asked the first read of the cycle
    // once per round, not a whole pass of time-outs; the first reply it
    // accepts brings back the full pass at once.
    if (state.g_device_answering.load() == 0) {
        if (first == nullptr || !read_entry(port, state, *first, watch, stop, 1)) {
            return false;
        }
    }
    for (const PollStep& step : cycle.steps) {
        // A link that failed fails every transaction after it at once: the
        // pass ends rather than spin through its steps.
        if (pass_over(port, watch, stop)) {
            break;
        }
        switch (step.kind) {
            case PollStep::Kind::Read:
                if (const ReplyEntry* entry = find_reply(step.code)) {
                    read_entry(port, state, *entry, watch, stop, kReadAttempts);
                }
                break;
            case PollStep::Kind::Status:
                read_status(port, state, watch, stop);
                break;
            case PollStep::Kind::Counters:
                read_counters(port, state, cycle.counters_length, watch, stop);
                break;
        }
    }
    if (stop.stop_requested() || port.link_failed()) {
        return false;
    }
    // Two seconds without a byte, or a whole pass without an accepted reply:
    // the device is not answering, and what is stored is no longer current.
    if (watch.silent_too_long() || !watch.accepted_any()) {
        state.g_device_answering.store(0);
        state.g_values_read.store(0);
        return false;
    }
    // Every step has had its turn on this device and it answered: what is
    // stored is its own.
    state.g_values_read.store(1);
    return true;
}

bool poll_cycle_kx(SerialPort& port, DeviceState& state, std::stop_token stop) {
    return run_poll_cycle(port, state, kx_poll_cycle(), std::move(stop));
}

bool poll_cycle_qm(SerialPort& port, DeviceState& state, std::stop_token stop) {
    return run_poll_cycle(port, state, qm_poll_cycle(), std::move(stop));
}

bool poll_cycle_of_kind(SerialPort& port, DeviceState& state, std::stop_token stop) {
    return run_poll_cycle(port, state, poll_cycle_of(family_of_kind(state.g_device_kind.load())),
                          std::move(stop));
}

}  // namespace zorvane
