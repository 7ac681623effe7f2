// zorvane-cli monitor: polls the devices and publishes them to an MQTT broker
// until SIGINT or SIGTERM (or --count passes per device). --port and
// --follow-serial are the options every command takes.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include "app/cli/cli_commands.h"
#include "app/monitor/device_topics.h"
#include "app/monitor/monitor.h"

namespace zorvane::cli {

namespace {

constexpr const char* kUsage =
    "usage: zorvane-cli monitor --mqtt mqtt://HOST[:PORT] [--port COMn|PATH] [--follow-serial]\n"
    "           [--interval S]"
    " [--prefix zorvane] [--username U --password-file F] [--cafile F]\n"
    "           [--allow-writes NAME,...] [--count N] [--instance NAME]\n"
    "           [--discovery-prefix homeassistant]\n"
    "  mqtts://HOST[:PORT] connects with TLS (port 8883 by default).\n"
    "  --allow-writes lets anyone who can publish to the broker change the named\n"
    "  settings (\"gen\": the output switch); without it nothing is ever written.\n"
    "  --instance names this monitor's availability (the host's name by default).\n";

int usage(const char* why) {
    if (why != nullptr) {
        std::fprintf(stderr, "zorvane-cli monitor: %s\n", why);
    }
    std::fprintf(stderr, "%s", kUsage);
    return 2;
}

bool parse_int(std::string_view text, int& value, int lowest) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() && value >= lowest;
}

// The first line of the file, without its line end.
bool read_password(const char* path, std::string& password) {
    std::ifstream file(path);
    if (!file || !std::getline(file, password)) {
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
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) {
            return usage(("missing value after " + std::string(arg)).c_str());
        }
        const char* value = argv[++i];
        int seconds = 0;
        if (arg == "--mqtt") {
            url = value;
        } else if (arg == "--interval") {
            if (!parse_int(value, seconds, 1) || seconds > 86400) {
                return usage("--interval takes whole seconds, 1 or more");
            }
            options.interval_ms = seconds * 1000;
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
        } else if (arg == "--count") {
            if (!parse_int(value, options.count, 1)) {
                return usage("--count takes a whole number, 1 or more");
            }
        } else {
            return usage(("unknown option " + std::string(arg)).c_str());
        }
    }
    if (url.empty()) {
        return usage("--mqtt is needed");
    }
    if (!monitor::parse_broker_url(url, options.broker)) {
        return usage("--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
    }
    if (!password_file.empty()) {
        if (options.broker.username.empty()) {
            return usage("--password-file needs --username");
        }
        if (!read_password(password_file.c_str(), options.broker.password)) {
            std::fprintf(stderr, "zorvane-cli: cannot read the password file %s\n",
                         password_file.c_str());
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
