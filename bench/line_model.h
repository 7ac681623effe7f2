// What the line costs in theory, for the benchmarks to compare against:
//
//   one transaction  = (request + reply bytes) x 11 bits / 57600 baud
//                      + 5 ms (the read ends 5 ms after the latest byte)
//   a silent read    = 50 + 5 x n ms for a read of up to n bytes
//                      (550 ms for a whole 100-byte buffer)
#pragma once

#include "device/poll_cycle.h"
#include "link/frame.h"
#include "link/reply_catalogue.h"

namespace zorvane::bench {

inline constexpr double kByteMs = 11.0 * 1000.0 / 57600.0;
inline constexpr double kIntervalMs = 5.0;

inline double silent_read_ms(int n) {
    return 50.0 + 5.0 * n;
}

inline double exchange_ms(int request_bytes, int reply_bytes) {
    return (request_bytes + reply_bytes) * kByteMs + kIntervalMs;
}

// One pass with every reply accepted at the first attempt.
inline double pass_model_ms(const PollCycle& cycle, int status_length) {
    double total = 0;
    for (const PollStep& step : cycle.steps) {
        switch (step.kind) {
            case PollStep::Kind::Read:
                total += exchange_ms(3, find_reply(step.code)->length);
                break;
            case PollStep::Kind::Status:
                total += exchange_ms(3, status_length);
                break;
            case PollStep::Kind::Counters:
                total += kCountersRequests * exchange_ms(3, cycle.counters_length);
                break;
        }
    }
    return total;
}

}  // namespace zorvane::bench
