// What the polling commands of zorvane-cli share: the device search that
// picks the polled device, and one poll pass over it.
#pragma once

#include <functional>
#include <string>

#include "pages/setting_write.h"

namespace zorvane::cli {

// Runs the device search as the window does (the last device found is the
// one polled) and reports the choice on standard error. False when nothing
// was found.
bool search_polled_device();

// One pass of the polled device's family, opening and closing its port.
// False when the port would not open or the link was lost.
bool poll_pass();

// Prints a write that was decided on: the frame in hex ("BE 4D 01 09 AA"),
// "unchanged", or the refusal on standard error. Returns the exit status:
// 0 for a frame sent or nothing to send, 1 when the port did not open, 2 for
// a refusal.
int report_write(const SettingDecision& decision);

inline constexpr const char* kNotAnsweringMessage = "zorvane-cli: the device does not answer";

// After a frame went out: one more pass, then what the device holds (`held`)
// against what was sent. 0 when they agree; 3 when they do not, after
// printing "device holds X" (X from `describe`); 1 when the device does not
// answer or the port fails.
int read_back(const std::function<long()>& held, long sent,
              const std::function<std::string(long)>& describe);

}  // namespace zorvane::cli
