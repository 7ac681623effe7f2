// zorvane-sim: simulated devices on pseudo-terminals, linked as COMn in a
// directory, until SIGINT or SIGTERM.
//
//   zorvane-sim --dir DIR --device COM3=QM-48:12345 --device COM5=KX-24:none [--pace]
//               [--replay COM4=site.trace] [--silent COM7] [--held COM9]
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "sim/port_directory.h"

namespace {

using namespace zorvane::sim;

struct DeviceArg {
    int com_port = 0;
    DeviceConfig config;
    std::string trace;  // a replayed unit's trace file
    std::shared_ptr<ReplayUnit> replay;
};

// "COM7": the port number, or 0.
int parse_com(std::string_view text) {
    if (!text.starts_with("COM")) {
        return 0;
    }
    const std::string number(text.substr(3));
    char* end = nullptr;
    const long n = std::strtol(number.c_str(), &end, 10);
    if (number.empty() || *end != '\0' || n < 1 || n > 255) {
        return 0;
    }
    return static_cast<int>(n);
}

// "COM3=QM-48:12345", "COM5=KX-24:none", "COM7=KX-48" (no serial number).
std::optional<DeviceArg> parse_device(std::string_view text) {
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    DeviceArg arg;
    arg.com_port = parse_com(text.substr(0, eq));
    if (arg.com_port == 0) {
        return std::nullopt;
    }
    std::string_view rest = text.substr(eq + 1);
    const size_t colon = rest.find(':');
    const auto model = parse_model(rest.substr(0, colon));
    if (!model) {
        return std::nullopt;
    }
    arg.config.model = *model;
    if (colon != std::string_view::npos) {
        const std::string_view serial = rest.substr(colon + 1);
        if (serial.size() > 10) {
            return std::nullopt;
        }
        if (serial != "none") {
            arg.config.serial = std::string(serial);
        }
    }
    return arg;
}

// "COM4=site.trace": a captured unit served from its trace on COM4. A trace
// that does not parse is refused, naming its line.
std::optional<DeviceArg> parse_replay(std::string_view text, std::string& error) {
    const size_t eq = text.find('=');
    DeviceArg arg;
    arg.com_port = eq == std::string_view::npos ? 0 : parse_com(text.substr(0, eq));
    if (arg.com_port == 0 || eq + 1 == text.size()) {
        error = "bad replay: " + std::string(text) + " (COMn=TRACE)";
        return std::nullopt;
    }
    arg.trace = std::string(text.substr(eq + 1));
    arg.replay = load_replay(arg.trace, arg.com_port, error);
    if (!arg.replay) {
        return std::nullopt;
    }
    return arg;
}

int usage(const char* why) {
    std::fprintf(
        stderr,
        "zorvane-sim: %s\n"
        "usage: zorvane-sim --dir DIR --device COMn=MODEL[:SERIAL|:none] ... [--pace]\n"
        "                   [--replay COMn=TRACE] ... [--silent COMn] ... [--held COMn] ...\n"
        "  MODEL is KX-24, KX-48, QM-24 or QM-48; SERIAL is up to ten characters.\n"
        "  --replay: the unit captured in a trace file (zorvane-cli --trace) answers\n"
        "  on COMn with its recorded replies.\n"
        "  --silent: a line with nothing on it; --held: a silent line that the\n"
        "  simulator keeps open exclusively, as a program using the port would.\n",
        why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    bool pace = false;
    std::vector<DeviceArg> devices;
    std::vector<int> silent;
    std::vector<int> held;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (a == "--device" && i + 1 < argc) {
            const auto device = parse_device(argv[++i]);
            if (!device) {
                return usage((std::string("bad device: ") + argv[i]).c_str());
            }
            devices.push_back(*device);
        } else if (a == "--replay" && i + 1 < argc) {
            std::string error;
            const auto replay = parse_replay(argv[++i], error);
            if (!replay) {
                std::fprintf(stderr, "zorvane-sim: %s\n", error.c_str());
                return 2;
            }
            devices.push_back(*replay);
        } else if ((a == "--silent" || a == "--held") && i + 1 < argc) {
            const int com = parse_com(argv[++i]);
            if (com == 0) {
                return usage((std::string("bad port: ") + argv[i]).c_str());
            }
            (a == "--silent" ? silent : held).push_back(com);
        } else if (a == "--pace") {
            pace = true;
        } else {
            return usage((std::string("unknown argument: ") + argv[i]).c_str());
        }
    }
    if (dir.empty() || (devices.empty() && silent.empty() && held.empty())) {
        return usage("--dir and at least one port are needed");
    }

    // Block the stop signals before any thread starts, so that only sigwait
    // below receives them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        return usage(("not a directory: " + dir).c_str());
    }
    PortDirectory ports{std::filesystem::path(dir)};
    for (const DeviceArg& d : devices) {
        SimulatedPort* port = d.replay ? ports.add_replay(d.com_port, d.replay, {.pace = pace})
                                       : ports.add(d.com_port, d.config, PortOptions{.pace = pace});
        if (port == nullptr) {
            std::fprintf(stderr, "zorvane-sim: cannot start COM%d\n", d.com_port);
            return 1;
        }
        if (d.replay) {
            std::printf("COM%d\treplay\t%s\t%s\n", d.com_port, d.trace.c_str(),
                        port->terminal_path().c_str());
            continue;
        }
        port->with_device([](SimDevice& device) { device.set_live(true); });
        std::printf("COM%d\t%s\tS/N %s\t%s\n", d.com_port, model_name(d.config.model),
                    d.config.serial ? d.config.serial->c_str() : "none",
                    port->terminal_path().c_str());
    }
    // Exclusive use keeps out every other opener but a privileged one, and
    // the lock keeps out the tool even when it runs as root, as a program
    // holding the port would.
    std::vector<int> holders;
    for (const bool hold : {false, true}) {
        for (const int com : hold ? held : silent) {
            SimulatedPort* port = ports.add_silent(com, PortOptions{.pace = pace});
            if (port == nullptr) {
                std::fprintf(stderr, "zorvane-sim: cannot start COM%d\n", com);
                return 1;
            }
            if (hold) {
                const int fd = ::open(port->terminal_path().c_str(), O_RDWR | O_NOCTTY);
                if (fd < 0 || ::ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                    std::fprintf(stderr, "zorvane-sim: cannot hold COM%d\n", com);
                    return 1;
                }
                holders.push_back(fd);
            }
            std::printf("COM%d\t%s\t-\t%s\n", com, hold ? "held" : "silent",
                        port->terminal_path().c_str());
        }
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&stop_signals, &received);
    for (const int fd : holders) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
    }
    ports.clear();
    return 0;
}
