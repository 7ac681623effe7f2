// zorvane-cli monitor: polls the devices and publishes them to an MQTT broker
// until SIGINT or SIGTERM (or --count passes per device). --port and
// --follow-serial are the options every command takes.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_values.h"
#include "app/monitor/device_topics.h"
#include "app/monitor/monitor.h"
#include "link/file_access.h"

namespace zorvane::cli {

namespace {

constexpr const char* kUsage =
    "usage: zorvane-cli monitor [--mqtt mqtt://HOST[:PORT]] [--nut [ADDR][:PORT]]\n"
    "           [--port COMn|PATH] [--follow-serial] [--interval S]"
    " [--prefix zorvane] [--username U --password-file F] [--cafile F]\n"
    "           [--allow-writes NAME,...] [--count N] [--instance NAME]\n"
    "           [--discovery-prefix homeassistant]\n"
    "           [--nut-name NAME] [--nut-kx] [--nut-users FILE]\n"
    "  mqtts://HOST[:PORT] connects with TLS (port 8883 by default).\n"
    "  --allow-writes lets anyone who can publish to the broker change the named\n"
    "  settings (\"gen\": the output switch); without it nothing is ever written.\n"
    "  --instance names this monitor's availability (the host's name by default).\n"
    "  --nut serves the units to NUT clients (upsc, upsmon) on 127.0.0.1:3493 by\n"
    "  default; --nut-name serves a single unit under NAME, --nut-kx serves KX\n"
    "  units too, --nut-users names a upsd.users file (mode 600) whose users may\n"
    "  write the settings of --allow-writes. At least one of --mqtt and --nut.\n";

int usage(const char* why) {
    if (why != nullptr) {
        std::fprintf(stderr, "zorvane-cli monitor: %s\n", why);
    }
    std::fprintf(stderr, "%s", kUsage);
    return 2;
}

// A password file holds one line; anything longer is not one.
constexpr size_t kMaxPasswordBytes = 1024;

// The first line of the file, without its line end; false after saying why
// not.
bool read_password(const std::string& path, std::string& password) {
    std::FILE* file = nullptr;
    FileOutcome outcome = open_regular_file(path, FileUse::Read, file);
    if (outcome.ok()) {
        bool ended = false;
        outcome = read_line(file, kMaxPasswordBytes, password, ended);
        std::fclose(file);
    }
    if (!outcome.ok()) {
        std::fprintf(stderr, "zorvane-cli: cannot read the password file %s: %s\n", path.c_str(),
                     outcome.status == FileStatus::Missing && file != nullptr
                         ? "it is empty"
                         : outcome.error.c_str());
        return false;
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return true;
}

// Names are kept as given; a name that is no setting of a device is refused
// when a command for it arrives.
bool parse_allowed(std::string_view list, std::set<std::string>& allowed) {
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        if (name.empty()) {
            return false;
        }
        allowed.emplace(name);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    }
    return !allowed.empty();
}

}  // namespace

int cmd_monitor(int argc, char** argv) {
    monitor::MonitorOptions options;
    std::string url;
    std::string password_file;
    OnceEach once;
    std::optional<std::string> nut_address;
    std::string nut_users;
    monitor::NutOptions nut;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        // The two options whose value may be left out.
        if (arg == "--nut" || arg == "--nut-kx") {
            if (!once.first(arg)) {
                return 2;
            }
            const bool valued =
                arg == "--nut" && i + 1 < argc && !std::string_view(argv[i + 1]).starts_with("--");
            if (arg == "--nut-kx") {
                nut.serve_kx = true;
            } else {
                nut_address = valued ? argv[++i] : "";
            }
            continue;
        }
        if (i + 1 >= argc) {
            return usage(("missing value after " + std::string(arg)).c_str());
        }
        if (arg.starts_with("--") && !once.first(arg)) {
            return 2;
        }
        const char* value = argv[++i];
        long long number = 0;
        if (arg == "--mqtt") {
            url = value;
        } else if (arg == "--interval") {
            if (!whole_number_option(arg, value, 1, static_cast<long long>(kMaxIntervalS),
                                     number)) {
                return 2;
            }
            options.interval_ms = static_cast<int>(number) * 1000;
        } else if (arg == "--prefix") {
            options.prefix = value;
            if (options.prefix.empty() || options.prefix.find_first_of("+#") != std::string::npos) {
                return usage("--prefix must be a topic without wildcards");
            }
        } else if (arg == "--discovery-prefix") {
            options.discovery = value;
            if (options.discovery.empty() ||
                options.discovery.find_first_of("+#") != std::string::npos) {
                return usage("--discovery-prefix must be a topic without wildcards");
            }
        } else if (arg == "--instance") {
            options.instance = value;
            if (monitor::instance_id(value) != value) {
                return usage("--instance takes lower-case letters, digits, '-' and '_'");
            }
        } else if (arg == "--username") {
            options.broker.username = value;
        } else if (arg == "--password-file") {
            password_file = value;
        } else if (arg == "--cafile") {
            options.broker.cafile = value;
        } else if (arg == "--allow-writes") {
            if (!parse_allowed(value, options.allowed)) {
                return usage("--allow-writes takes NAME,NAME,...");
            }
        } else if (arg == "--nut-name") {
            nut.single_name = value;
            if (nut.single_name.empty() ||
                nut.single_name.find_first_of(" \t\"\\@:") != std::string::npos) {
                return usage("--nut-name takes a name without blanks, quotes, '@' or ':'");
            }
        } else if (arg == "--nut-users") {
            nut_users = value;
        } else if (arg == "--count") {
            if (!whole_number_option(arg, value, 1, kMaxCount, number)) {
                return 2;
            }
            options.count = static_cast<int>(number);
        } else {
            return usage(("unknown option " + std::string(arg)).c_str());
        }
    }
    if (url.empty() && !nut_address) {
        return usage("--mqtt or --nut is needed");
    }
    if (!nut_address && (!nut.single_name.empty() || nut.serve_kx || !nut_users.empty())) {
        return usage("--nut-name, --nut-kx and --nut-users go with --nut");
    }
    if (nut_address) {
        if (!nut_address->empty() &&
            !monitor::parse_nut_address(*nut_address, nut.host, nut.port)) {
            return usage("--nut takes [ADDR][:PORT]");
        }
        if (!nut_users.empty()) {
            std::string error;
            if (!monitor::read_nut_users(nut_users, nut.users, error)) {
                std::fprintf(stderr, "zorvane-cli: cannot use the NUT users file %s: %s\n",
                             nut_users.c_str(), error.c_str());
                return 1;
            }
        }
        nut.allowed = options.allowed;
        options.nut = nut;
    }
    if (url.empty()) {
        if (!options.broker.username.empty() || !password_file.empty() ||
            !options.broker.cafile.empty()) {
            return usage("--username, --password-file and --cafile go with --mqtt");
        }
    } else if (!monitor::parse_broker_url(url, options.broker)) {
        return usage("--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
    }
    if (!options.broker.cafile.empty()) {
        // The TLS library opens it by name: looked at here first, so that a
        // FIFO or a device node cannot hang the connection.
        std::FILE* file = nullptr;
        const FileOutcome outcome = open_regular_file(options.broker.cafile, FileUse::Read, file);
        if (!outcome.ok()) {
            std::fprintf(stderr, "zorvane-cli: cannot read the CA file %s: %s\n",
                         options.broker.cafile.c_str(), outcome.error.c_str());
            return 1;
        }
        std::fclose(file);
    }
    if (!password_file.empty()) {
        if (options.broker.username.empty()) {
            return usage("--password-file needs --username");
        }
        if (!read_password(password_file, options.broker.password)) {
            return 1;
        }
    }

    // The stop signals are taken by one thread of ours, blocked everywhere
    // else (the broker's network thread included, started after this).
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    std::stop_source stop;
    std::jthread signal_waiter([&stop, stop_signals](std::stop_token done) {
        // sigtimedwait so that the end of the run also ends this thread.
        const timespec tick{0, 200'000'000};
        while (!done.stop_requested()) {
            if (sigtimedwait(&stop_signals, nullptr, &tick) > 0) {
                stop.request_stop();
                return;
            }
        }
    });
    return monitor::run_monitor(options, stop.get_token());
}

}  // namespace zorvane::cli
