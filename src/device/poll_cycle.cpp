#include "device/poll_cycle.h"

#include <array>

#include "link/frame.h"

namespace zorvane {

namespace {

using Buffer = std::array<uint8_t, kFrameBufferSize>;

// The retry idiom shared by the catalogue reads and the status request: a
// bare request, one read, `accept` decides and stores. Attempts follow each
// other at once; nothing empties the input between them, so the tail of a
// late reply is read as the start of the next one and fails its checks.
template <typename Accept>
bool retry(SerialPort& port, uint8_t code, const std::stop_token& stop, Accept accept) {
    Buffer buffer;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        if (stop.stop_requested()) {
            return false;
        }
        const int length = build_request(buffer, code);
        const int count = transact(port, buffer, length, 0);
        if (accept(buffer.data(), count)) {
            return true;
        }
        if (port.link_failed()) {
            return false;
        }
    }
    return false;
}

bool read_status(SerialPort& port, DeviceState& state, const std::stop_token& stop) {
    return retry(port, cmd::kStatus, stop, [&state](const uint8_t* reply, int count) {
        if (!status_reply_valid(reply, count)) {
            return false;
        }
        store_status(state, reply, count);
        return true;
    });
}

// Every one of the six requests is sent, even after an accepted reply, and
// each accepted reply replaces the whole block again.
bool read_counters(SerialPort& port, DeviceState& state, int expected_length,
                   const std::stop_token& stop) {
    Buffer buffer;
    bool accepted = false;
    for (int request = 0; request < kCountersRequests; ++request) {
        if (stop.stop_requested()) {
            return accepted;
        }
        const int length = build_request(buffer, cmd::kCounters);
        const int count = transact(port, buffer, length, expected_length);
        if (counters_reply_valid(count, expected_length)) {
            state.lifetime_counters.publish(decode_counters(buffer.data(), expected_length));
            accepted = true;
        }
        if (port.link_failed()) {
            return accepted;
        }
    }
    return accepted;
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
    return retry(port, entry.code, stop, [&](const uint8_t* reply, int count) {
        if (!reply_valid(reply, count, entry.code, entry.length)) {
            return false;
        }
        decode_reply(entry, reply, state);
        return true;
    });
}

bool run_poll_cycle(SerialPort& port, DeviceState& state, const PollCycle& cycle,
                    std::stop_token stop) {
    bool accepted_any = false;
    for (const PollStep& step : cycle.steps) {
        // A link that failed fails every transaction after it at once: the
        // pass ends rather than spin through its steps.
        if (stop.stop_requested() || port.link_failed()) {
            return false;
        }
        switch (step.kind) {
            case PollStep::Kind::Read:
                if (const ReplyEntry* entry = find_reply(step.code)) {
                    accepted_any |= read_with_retry(port, state, *entry, stop);
                }
                break;
            case PollStep::Kind::Status:
                accepted_any |= read_status(port, state, stop);
                break;
            case PollStep::Kind::Counters:
                accepted_any |= read_counters(port, state, cycle.counters_length, stop);
                break;
        }
    }
    if (stop.stop_requested() || port.link_failed()) {
        return false;
    }
    // Every step has had its turn on this device and it answered: what is
    // stored is its own. A pass without a single accepted reply read nothing.
    if (accepted_any) {
        state.g_values_read.store(1);
    }
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
