// What the polling commands of zorvane-cli share: the device search that
// picks the polled device, and one poll pass over it.
#pragma once

#include "device/setting_write.h"
#include "link/discovery.h"

namespace zorvane::cli {

// Runs the device search as the window does (the last device found is the
// one polled) and reports the choice on standard error. False when nothing
// was found.
bool search_polled_device();

// The device the search chose, once it has found one.
const FoundDevice& polled_device();

// One pass of the polled device's family, opening and closing its port.
// False when the port would not open or the link was lost.
bool poll_pass();

// Prints a write that was decided on: the frame in hex ("BE 4D 01 09 AA"),
// "unchanged", or the refusal on standard error. Returns the exit status:
// 0 for a frame sent or nothing to send, 1 when the port did not open, 2 for
// a refusal.
int report_write(const SettingDecision& decision);

}  // namespace zorvane::cli
