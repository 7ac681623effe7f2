// Options every zorvane-cli command takes, read before the command's own.
#pragma once

#include <optional>
#include <string>

namespace zorvane::cli {

struct CommonOptions {
    std::optional<std::string> port;    // --port COMn|PATH: that port only, no search
    bool follow_serial = false;         // --follow-serial: a session finds its unit on another port
    std::optional<std::string> serial;  // --serial S/N: the unit with that serial number
    std::optional<std::string> trace;   // --trace FILE: every frame of the run written there
    bool trace_anonymize = false;       // --trace-anonymize: serial numbers replaced in it
};

// Takes the common options out of argv (wherever they stand among the
// command's arguments) and returns false with a message when one is
// malformed. `argc` and `argv` are left with the rest, in order.
bool take_common_options(int& argc, char** argv);

const CommonOptions& common_options();
// Replaces the common options (a program that runs several commands in turn).
void set_common_options(CommonOptions options);

}  // namespace zorvane::cli
