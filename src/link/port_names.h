// How port names and COM numbers turn into each other: the default table and
// the COMn names of a port directory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "link/port_list.h"

namespace zorvane {

// The COM numbers a port directory may hold.
inline constexpr int kFirstListedCom = 1;
inline constexpr int kLastListedCom = 255;

// n of "COMn" (any case, no leading zero, no sign); 0 for any other text.
int com_number_of_name(std::string_view name);

// n of a COM name as a user types it: "COM3", "com3" and "COM03" alike;
// 0 for any other text.
int com_number_typed(std::string_view name);

// COMn of a terminal's name in /dev ("ttyUSB3" is COM36); 0 when the table
// has no row for it.
int com_port_of_device_name(std::string_view name);

// The listing proper, over a sysfs tty class directory and a /dev tree
// (given, so that a test can lay out a machine of its own).
std::vector<PortInfo> list_system_ports(const std::string& sys_tty, const std::string& dev);

}  // namespace zorvane
