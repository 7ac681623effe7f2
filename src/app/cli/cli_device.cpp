#include "app/cli/cli_device.h"

#include <algorithm>
#include <cstdio>

#include "app/cli/cli_link.h"
#include "app/cli/cli_options.h"
#include "device/device_session.h"
#include "device/poll_cycle.h"
#include "link/discovery.h"
#include "link/file_access.h"
#include "link/port_report.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane::cli {

namespace {

int g_no_device_status = 1;

void tell_unusable(const std::vector<PortInfo>& ports) {
    const std::string report = unusable_ports_report(ports, Language::English);
    if (!report.empty()) {
        std::fprintf(stderr, "zorvane-cli: %s\n", report.c_str());
    }
}

std::optional<FoundDevice> device_on_named_port(const std::string& text) {
    PortInfo target = port_from_text(text);
    if (target.path.empty()) {
        std::fprintf(stderr, "zorvane-cli: no port %s\n", text.c_str());
        return std::nullopt;
    }
    if (target.com == 0) {
        target.com = com_port_for_path(target.path);
    }
    SerialPort port(make_serial_backend());
    ProbeResult result = probe(port, target);
    target.access = result.open;
    if (!result.open) {
        if (result.open.access == PortAccess::NoPermission ||
            result.open.access == PortAccess::Busy) {
            tell_unusable({target});
        } else {
            std::fprintf(stderr, "zorvane-cli: %s: %s (%s)\n", port_label(target).c_str(),
                         access_name(result.open.access), result.open.error_text.c_str());
        }
        return std::nullopt;
    }
    if (!result.device) {
        std::fprintf(stderr, "zorvane-cli: no device answers on %s\n", port_label(target).c_str());
    }
    return result.device;
}

}  // namespace

void tell_search(const SearchResult& result) {
    tell_unusable(result.ports);
    if (result.found.empty()) {
        std::fprintf(stderr, "zorvane-cli: %s\n",
                     no_device_report(result.ports.size(), Language::English).c_str());
    }
}

std::string polled_port_label() {
    PortInfo port;
    port.com = device_state.g_com_port.load();
    port.path = resolve_port_path(port.com);
    return port_label(port);
}

std::string device_port_label(const FoundDevice& device) {
    PortInfo port;
    port.com = device.port;
    port.path = device.path;
    return port_label(port);
}

namespace {

// The option that selects `device` among `found`: its serial number where
// that tells it apart, else its port.
std::string selecting_option(const FoundDevice& device, const std::vector<FoundDevice>& found) {
    const auto same_serial = std::count_if(found.begin(), found.end(), [&](const FoundDevice& f) {
        return f.serial == device.serial;
    });
    if (device.has_serial() && same_serial == 1) {
        return "--serial " + device.serial;
    }
    return "--port " + (device.port > 0 ? "COM" + std::to_string(device.port) : device.path);
}

void list_devices(const std::vector<FoundDevice>& found) {
    for (const FoundDevice& device : found) {
        std::fprintf(stderr, "  %s: %s  (%s)\n", device_port_label(device).c_str(),
                     device.caption.c_str(), selecting_option(device, found).c_str());
    }
}

std::optional<FoundDevice> refuse(int status) {
    g_no_device_status = status;
    return std::nullopt;
}

// The search's finds narrowed to the unit meant.
std::optional<FoundDevice> device_by_search(const std::optional<std::string>& serial) {
    SearchResult result = search_devices(device_state);
    tell_search(result);
    if (result.found.empty()) {
        return std::nullopt;
    }
    std::vector<FoundDevice> meant;
    for (const FoundDevice& device : result.found) {
        if (!serial || device.serial == *serial) {
            meant.push_back(device);
        }
    }
    if (meant.size() == 1) {
        return meant.front();
    }
    if (meant.empty()) {
        std::fprintf(stderr, "zorvane-cli: no device with S/N %s; found:\n", serial->c_str());
        list_devices(result.found);
        return refuse(2);
    }
    std::fprintf(stderr,
                 "zorvane-cli: %zu devices found%s; name the one meant (nothing was done):\n",
                 meant.size(), serial ? (" with S/N " + *serial).c_str() : "");
    list_devices(serial ? meant : result.found);
    return refuse(2);
}

}  // namespace

int no_device_status() {
    return g_no_device_status;
}

std::optional<FoundDevice> find_polled_device() {
    g_no_device_status = 1;
    std::optional<FoundDevice> chosen;
    const CommonOptions& options = common_options();
    if (options.port) {
        chosen = device_on_named_port(*options.port);
        if (chosen && options.serial && chosen->serial != *options.serial) {
            std::fprintf(stderr, "zorvane-cli: %s: the device there is %s, not S/N %s\n",
                         device_port_label(*chosen).c_str(), chosen->caption.c_str(),
                         options.serial->c_str());
            return refuse(2);
        }
    } else {
        chosen = device_by_search(options.serial);
    }
    if (!chosen) {
        return std::nullopt;
    }
    store_polled_device(device_state, *chosen);
    std::fprintf(stderr, "zorvane-cli: device on %s: %s\n", device_port_label(*chosen).c_str(),
                 chosen->caption.c_str());
    if (!chosen->identification.model_established) {
        std::fprintf(stderr,
                     "zorvane-cli: the model is not established (its status reply never passed "
                     "its checks): it is polled as %s, but nothing will be written to it; check "
                     "the cable and search again\n",
                     model_profile(chosen->model).name);
    }
    return chosen;
}

std::optional<FoundDevice> take_polled_device() {
    std::optional<FoundDevice> device = find_polled_device();
    if (device) {
        // From here on a lost link ends the command, as it ends the window
        // once its search is over. No worker runs here, so nothing holds the
        // port.
        device_state.g_main_thread_id.store(1);
        device_state.g_worker_idle.store(1);
    }
    return device;
}

bool search_polled_device() {
    return take_polled_device().has_value();
}

bool poll_pass() {
    SerialPort& port = serial_port();
    if (!port.open(device_state.g_com_port.load())) {
        std::fprintf(stderr, "zorvane-cli: %s does not open\n", polled_port_label().c_str());
        return false;
    }
    poll_cycle_of_kind(port, device_state);
    port.close();
    return !quit_requested();
}

PollingSession::PollingSession(const FoundDevice& device)
    : port(make_serial_backend()),
      session(port, device_state, device,
              SessionOptions{.follow_serial = common_options().follow_serial}) {
    set_link_failure_handler(nullptr);
    report_session_events(session);
}

void report_session_events(DeviceSession& session) {
    session.on_event([&session](const SessionEvent& event) {
        const std::string where = device_port_label(session.device());
        switch (event.kind) {
            case SessionEvent::Kind::LinkLost: {
                // A port that would not open again says why (unplugged, busy …).
                const std::string why =
                    event.open.ok() ? std::string()
                                    : std::string(" (") + access_name(event.open.access) + ")";
                std::fprintf(stderr,
                             "zorvane-cli: %s: link lost%s; values are not current; trying again "
                             "every second\n",
                             where.c_str(), why.c_str());
                break;
            }
            case SessionEvent::Kind::Resumed:
                std::fprintf(stderr, "zorvane-cli: %s: %s answers again; polling resumes\n",
                             where.c_str(), event.device.caption.c_str());
                break;
            case SessionEvent::Kind::OtherDevice:
                std::fprintf(stderr,
                             "zorvane-cli: %s: another device answers there (%s); waiting for "
                             "%s\n",
                             where.c_str(), printable(event.device.caption).c_str(),
                             printable(session.device().caption).c_str());
                break;
            case SessionEvent::Kind::Moved:
                std::fprintf(stderr, "zorvane-cli: %s found on %s\n",
                             printable(event.device.caption).c_str(), where.c_str());
                break;
        }
        std::fflush(stderr);
    });
}

int read_back(const std::function<long()>& held, long sent,
              const std::function<std::string(long)>& describe) {
    if (!poll_pass()) {
        return 1;
    }
    if (!device_state.values_current()) {
        std::fprintf(stderr, "%s\n", kNotAnsweringMessage);
        return 1;
    }
    const long value = held();
    if (value != sent) {
        std::printf("device holds %s\n", describe(value).c_str());
        return 3;
    }
    return 0;
}

int report_write(const SettingDecision& decision) {
    switch (decision.kind) {
        case SettingDecision::Kind::Refused:
            std::fprintf(stderr, "%s\n", decision.refusal.c_str());
            if (decision.overridable) {
                std::fprintf(stderr, "zorvane-cli: --force writes it all the same\n");
            }
            return 2;
        case SettingDecision::Kind::Unchanged:
            std::printf("unchanged\n");
            return 0;
        case SettingDecision::Kind::Send:
            break;
    }
    if (!decision.sent) {
        std::fprintf(stderr, "zorvane-cli: %s does not open; nothing was sent\n",
                     polled_port_label().c_str());
        return 1;
    }
    for (int i = 0; i < decision.frame_length; ++i) {
        std::printf(i == 0 ? "%02X" : " %02X", decision.frame[i]);
    }
    std::printf("\n");
    return quit_requested() ? 1 : 0;
}

}  // namespace zorvane::cli
