// What the tool says about ports it cannot use, in the window's language or
// in English for the command line: the same content in both.
#pragma once

#include <span>
#include <string>

#include "link/port_list.h"

namespace zorvane {

enum class Language { Russian, English };

// One line per port that exists but could not be used (no permission, or
// held by another program), then the remedy of each kind that occurred.
// Empty when every port could be used.
std::string unusable_ports_report(std::span<const PortInfo> ports, Language language);

// No device was found: says whether any serial port was seen at all.
std::string no_device_report(size_t ports_seen, Language language);

}  // namespace zorvane
