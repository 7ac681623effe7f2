// Figures of a running process from /proc/PID/status, for the benchmarks.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace zorvane::bench {

// A "VmRSS:"-style line, in KiB (-1 when there is none).
inline long status_kib(pid_t pid, const char* key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with(key))
            return std::atol(line.c_str() + std::strlen(key));
    }
    return -1;
}

// This process's resident memory, in KiB.
inline long resident_kib() {
    return status_kib(getpid(), "VmRSS:");
}

}  // namespace zorvane::bench
