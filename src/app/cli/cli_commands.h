// The commands of zorvane-cli. Each gets the arguments that follow its name
// and returns the exit status of the program.
#pragma once

namespace zorvane::cli {

int cmd_scan(int argc, char** argv);

}  // namespace zorvane::cli
