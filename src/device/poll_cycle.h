// One poll pass over a KX or a QM device, with the port already open.
#pragma once

#include "device/device_state.h"
#include "link/reply_catalogue.h"
#include "link/serial_port.h"

namespace zorvane {

inline constexpr int kReadAttempts = 6;
inline constexpr int kCountersRequests = 6;

// Up to six attempts of a three-byte request with a single read, stopping at
// the first accepted reply, which is decoded once. False when none was.
bool read_with_retry(SerialPort& port, DeviceState& state, const ReplyEntry& entry);

void poll_cycle_kx(SerialPort& port, DeviceState& state);
void poll_cycle_qm(SerialPort& port, DeviceState& state);

}  // namespace zorvane
