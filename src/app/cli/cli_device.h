// What the polling commands of zorvane-cli share: finding the device (on the
// port named with --port, or by the search), and one poll pass over it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "device/device_session.h"
#include "device/setting_write.h"
#include "link/discovery.h"
#include "link/serial_port.h"

namespace zorvane::cli {

// Tells what a search met on standard error: the ports that exist but
// cannot be used, and why nothing was found when nothing was.
void tell_search(const SearchResult& result);

// The device of the command: the one on --port, identified as the search
// identifies it, or the one the search finds with --serial, or the only one
// the search finds. More than one found and neither option given is refused,
// listing the devices with the option that selects each: a command never
// guesses the unit meant. Ports that exist but cannot be used, and the
// reason when nothing is found, are told on standard error. The device is
// stored in g_com_port and g_device_kind.
std::optional<FoundDevice> find_polled_device();
// The exit status when find_polled_device found nothing: 2 when it refused
// (several devices, a --serial that does not match the unit on --port),
// else 1.
int no_device_status();

// find_polled_device, then a lost link ends the command, as it ends the
// window once its search is over. False when nothing was found.
bool search_polled_device();
// The same, keeping the device found.
std::optional<FoundDevice> take_polled_device();

// One pass of the polled device's family, opening and closing its port.
// False when the port would not open or the link was lost.
bool poll_pass();

// Prints a write that was decided on: the frame in hex ("BE 4D 01 09 AA"),
// "unchanged", or the refusal on standard error (with how --force overrides
// it, where the technician may). Returns the exit status: 0 for a frame sent
// or nothing to send, 1 when the port did not open, 2 for a refusal.
int report_write(const SettingDecision& decision);

// Tells a session's outages on standard error, one line each: the link
// lost, the unit back, another device on its port, the unit on another port.
void report_session_events(DeviceSession& session);

// A session on the device of a command that keeps polling (poll --count,
// log): its own port, --follow-serial, outages told by report_session_events.
// The session tells of an outage once, so the per-transaction report of the
// one-shot commands is switched off.
struct PollingSession {
    explicit PollingSession(const FoundDevice& device);
    SerialPort port;
    DeviceSession session;
};

// The port of a find, as the messages name it: "COM5 (/dev/ttyS4)", or the
// path alone outside the port table.
std::string device_port_label(const FoundDevice& device);
// The same for the port in g_com_port.
std::string polled_port_label();

inline constexpr const char* kNotAnsweringMessage = "zorvane-cli: the device does not answer";

// After a frame went out: one more pass, then what the device holds (`held`)
// against what was sent. 0 when they agree; 3 when they do not, after
// printing "device holds X" (X from `describe`); 1 when the device does not
// answer or the port fails.
int read_back(const std::function<long()>& held, long sent,
              const std::function<std::string(long)>& describe);

}  // namespace zorvane::cli
