// How zorvane-cli reports a lost link: the window shows a message box, a
// command line prints the same text on standard error.
#pragma once

#include <memory>

#include "record/wire_trace.h"

namespace zorvane::cli {

// Installs the report as the core's link-failure handler.
void report_link_failures();

// True once a link failure has asked the program to end (only possible after
// g_main_thread_id is set; the device search never asks).
bool quit_requested();

// The trace of --trace (with --trace-anonymize), started as the wire's
// listener. False, having said why on standard error, when the file is
// refused; true with `trace` left null when no trace was asked for.
bool start_trace(std::shared_ptr<TraceFile>& trace);
// After the command: a trace that could not be written to the end is told.
void finish_trace(const std::shared_ptr<TraceFile>& trace);

}  // namespace zorvane::cli
