// How zorvane-cli reports a lost link: the window shows a message box, a
// command line prints the same text on standard error.
#pragma once

namespace zorvane::cli {

// Installs the report as the core's link-failure handler.
void report_link_failures();

// True once a link failure has asked the program to end (only possible after
// g_main_thread_id is set; the device search never asks).
bool quit_requested();

}  // namespace zorvane::cli
