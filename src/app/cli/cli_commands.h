// The commands of zorvane-cli. Each gets the arguments that follow its name
// and returns the exit status of the program.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "link/discovery.h"
#include "link/serial_port.h"

namespace zorvane::cli {

int cmd_scan(int argc, char** argv);
int cmd_poll(int argc, char** argv);
int cmd_set(int argc, char** argv);
int cmd_gen(int argc, char** argv);
int cmd_monitor(int argc, char** argv);
int cmd_log(int argc, char** argv);
int cmd_ports(int argc, char** argv);
int cmd_settings(int argc, char** argv);

// The settings command on `port`; `find_device` picks the device (the search,
// for the program) and leaves it polled, or returns null when there is none.
// Exit status: 0 saved, or every written setting confirmed (or nothing to
// change); 1 no device, or it stopped answering; 2 usage, a file refused or
// not written, or a load not confirmed by the technician; 3 written but not
// confirmed by the read-back.
using DeviceFinder = std::function<const FoundDevice*()>;
int run_settings(int argc, char** argv, SerialPort& port, const DeviceFinder& find_device);

// The parts of `set` and `gen` after the device search: a pass, the write,
// and a pass that reads back what the device holds.
int set_after_search(std::string_view name, std::string_view text, bool force = false);
int gen_after_search(bool on);

// One line of the scan listing: "COM<n>" (the path, for a port outside the
// table), a tab, the caption (control characters of the caption shown as '?').
std::string scan_listing_line(const FoundDevice& device);

// One line of the ports listing: "COMn" (or "-" outside the table), the
// path, the by-id name (or "-"), the access, tab-separated.
std::string ports_listing_line(const PortInfo& port);

}  // namespace zorvane::cli
