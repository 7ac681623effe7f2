// Runs zorvane-cli as a technician would, in a child process, and collects
// what it printed. The child may drop root for an ordinary account first, as
// CI runs as root and a permission test needs someone the port refuses.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace zorvane::testing {

struct CliOutcome {
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline constexpr uid_t kNobody = 65534;

// `as_nobody`: the child runs as uid/gid 65534 with no supplementary groups.
inline CliOutcome run_cli(const std::vector<std::string>& args, bool as_nobody = false) {
    std::vector<std::string> argv_text = {ZORVANE_CLI_PROGRAM};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec.
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        if (as_nobody &&
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
    while (open_pipes > 0 && ::poll(fds, 2, 60000) > 0) {
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
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

}  // namespace zorvane::testing
