// One poll pass over a KX or a QM device, with the port already open.
//
// A pass is a fixed series of steps, kept in the family's profile: read
// commands of the reply catalogue (each up to six attempts until a reply is
// accepted), the status request (its own acceptance rule) and the counters
// request (sent six times, accepted only on its exact length). A reply that is
// never accepted leaves its fields as they were.
#pragma once

#include <cstdint>
#include <span>
#include <stop_token>

#include "link/reply_catalogue.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane {

inline constexpr int kReadAttempts = 6;
inline constexpr int kCountersRequests = 6;

struct PollCycle {
    std::span<const PollStep> steps;
    int counters_length;  // exact length of an accepted counters reply
};

// The two series, in the order the device is asked.
const PollCycle& kx_poll_cycle();
const PollCycle& qm_poll_cycle();
// Any kind but KX gets the QM series: a device of no known family is polled
// as the larger one.
const PollCycle& poll_cycle_of(Family family);

// Up to six attempts of a three-byte request with a single read, stopping at
// the first accepted reply, which is decoded once. False when none was (or a
// stop was requested before one was).
bool read_with_retry(SerialPort& port, DeviceState& state, const ReplyEntry& entry,
                     std::stop_token stop = {});

// A whole pass. A stop request ends it between two transactions, and a link
// failure right after the failing one, leaving the fields of the steps not
// yet run as they were. A pass that ran every step returns true, and marks
// the values read (g_values_read) when the device answered at least once.
bool run_poll_cycle(SerialPort& port, DeviceState& state, const PollCycle& cycle,
                    std::stop_token stop = {});
bool poll_cycle_kx(SerialPort& port, DeviceState& state, std::stop_token stop = {});
bool poll_cycle_qm(SerialPort& port, DeviceState& state, std::stop_token stop = {});
// The pass of the family stored in g_device_kind.
bool poll_cycle_of_kind(SerialPort& port, DeviceState& state, std::stop_token stop = {});

}  // namespace zorvane
