// Runs zorvane-cli as a technician would, in a child process, and collects
// what it printed, killing it when it does not end on its own. The child may
// drop root for an ordinary account first, as CI runs as root and a
// permission test needs someone the port refuses.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

namespace zorvane::testing {

struct CliOutcome {
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline constexpr uid_t kNobody = 65534;

// How the child runs besides its arguments.
struct CliRun {
    bool as_nobody = false;  // uid/gid 65534 with no supplementary groups
    int stdout_fd = -1;      // standard output to this descriptor, not collected
    int stdin_fd = -1;       // standard input from this descriptor (else the test's)
    // The child is killed after this long; its status is then -1. A command
    // that waits for ever (a FIFO opened for reading) fails its test instead
    // of hanging it.
    int watchdog_s = 60;
    // The child's address space, in MiB (0: unbounded), so that a command
    // that reads without bound fails on its own instead of taking the
    // machine's memory. Not under the address or thread sanitizer, which map far more.
    long memory_mib = 0;
};

inline CliOutcome run_cli(const std::vector<std::string>& args, const CliRun& run) {
    std::vector<std::string> argv_text = {ZORVANE_CLI_PROGRAM};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0)
        return {};
    rlimit memory{};
    memory.rlim_cur = memory.rlim_max = static_cast<rlim_t>(run.memory_mib) << 20;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const bool limit_memory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    const bool limit_memory = false;
#else
    const bool limit_memory = run.memory_mib > 0;
#endif
#else
    const bool limit_memory = run.memory_mib > 0;
#endif
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec.
        ::dup2(run.stdout_fd >= 0 ? run.stdout_fd : out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        if (run.stdin_fd >= 0)
            ::dup2(run.stdin_fd, 0);
        if (limit_memory && ::setrlimit(RLIMIT_AS, &memory) != 0)
            ::_exit(124);
        if (run.as_nobody &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(125);
        }
        ::execv(argv[0], argv.data());
        ::_exit(126);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    CliOutcome outcome;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    int open_pipes = 2;
    bool killed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(run.watchdog_s);
    while (open_pipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ::poll(fds, 2, static_cast<int>(left.count())) == 0) {
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0)
            ::close(fd.fd);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

// `as_nobody`: the child runs as uid/gid 65534 with no supplementary groups.
inline CliOutcome run_cli(const std::vector<std::string>& args, bool as_nobody = false) {
    return run_cli(args, CliRun{.as_nobody = as_nobody});
}

}  // namespace zorvane::testing
