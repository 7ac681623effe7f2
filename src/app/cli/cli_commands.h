// The commands of zorvane-cli. Each gets the arguments that follow its name
// and returns the exit status of the program.
#pragma once

namespace zorvane::cli {

int cmd_scan(int argc, char** argv);
int cmd_poll(int argc, char** argv);
int cmd_set(int argc, char** argv);
int cmd_gen(int argc, char** argv);

}  // namespace zorvane::cli
