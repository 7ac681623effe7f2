#include "app/monitor/nut_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "app/monitor/published_values.h"
#include "link/file_access.h"
#include "state/models.h"
#include "state/variables.h"
#include "state/version.h"

namespace zorvane::monitor {

namespace {

using Clock = std::chrono::steady_clock;

// Bounds per connection: a NUT command line is short (a SET VAR is the
// longest); a client that stops reading is not given more than one large
// listing to hold; one that says nothing for long is let go. upsmon polls
// every few seconds, so an idle time of minutes drops only the stuck ones.
constexpr size_t kMaxLine = 512;
constexpr size_t kMaxOutput = 64 * 1024;
constexpr size_t kMaxClients = 256;
constexpr auto kIdleLimit = std::chrono::minutes(5);
constexpr size_t kMaxUsersFile = 64 * 1024;

std::string fixed(double value, int decimals) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

bool bit_set(const DeviceState& state, const char* name, Family family) {
    const StatusBit* bit = find_status_bit(name, family);
    return bit != nullptr && (state.*bit->array)[static_cast<size_t>(bit->bit)].load() != 0;
}

// Settings served under NUT's standard name where the meaning is the same,
// by their registry key.
struct StandardSetting {
    const char* key;
    const char* nut;
};
constexpr StandardSetting kStandardSettings[] = {
    {"set_ubat_low", "battery.voltage.low"},     // the voltage that sets the low-battery bit
    {"set_urms_low_l", "input.transfer.low"},    // below it the unit leaves the mains
    {"set_urms_high_h", "input.transfer.high"},  // above it the unit leaves the mains
    {"set_uout_nom", "output.voltage.nominal"},
};

// A setting without a standard name: "experimental." as NUT's naming
// rules ask of names not yet recorded, then the key ("set_ubat_min" ->
// "experimental.ubat_min").
std::string experimental_name(const Variable& v) {
    std::string key = v.key;
    if (key.starts_with("set_")) {
        key = key.substr(4);
    }
    return "experimental." + key;
}

std::string cmd_desc(bool on) {
    return on ? "Turn on the load (start generation)" : "Turn off the load (stop generation)";
}

}  // namespace

bool parse_nut_address(const std::string& text, std::string& host, int& port) {
    std::string rest = text;
    host = "127.0.0.1";
    port = kNutDefaultPort;
    std::string port_text;
    if (rest.starts_with("[")) {
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                return false;
            }
            port_text = rest.substr(1);
        }
    } else {
        const size_t colon = rest.find(':');
        if (colon != std::string::npos && rest.find(':', colon + 1) != std::string::npos) {
            host = rest;  // a bare IPv6 address
        } else {
            if (colon != std::string::npos) {
                port_text = rest.substr(colon + 1);
                rest = rest.substr(0, colon);
            }
            if (!rest.empty()) {
                host = rest;
            }
        }
    }
    if (host.empty()) {
        return false;
    }
    if (text.find(':') != std::string::npos && !text.starts_with("[") &&
        text.find(':') == text.rfind(':') && port_text.empty()) {
        return false;  // "host:" names no port
    }
    if (!port_text.empty()) {
        char* end = nullptr;
        const long n = std::strtol(port_text.c_str(), &end, 10);
        if (*end != '\0' || n < 1 || n > 65535 || !std::isdigit(port_text[0])) {
            return false;
        }
        port = static_cast<int>(n);
    }
    return true;
}

bool read_nut_users(const std::string& path, NutUsers& users, std::string& error) {
    std::FILE* file = nullptr;
    FileOutcome outcome = open_regular_file(path, FileUse::Read, file);
    if (!outcome.ok()) {
        error = outcome.error;
        return false;
    }
    // The passwords in it are a door to the unit: a file that others may
    // read is refused before anything is taken from it.
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0 || (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        std::fclose(file);
        error = "others may read it (chmod 600 it)";
        return false;
    }
    std::string text;
    std::string line;
    bool ended = true;
    while (ended) {
        outcome = read_line(file, kMaxLine, line, ended);
        if (outcome.status == FileStatus::Missing) {
            break;
        }
        if (!outcome.ok() || text.size() > kMaxUsersFile) {
            std::fclose(file);
            error = outcome.ok() ? "larger than " + size_text(kMaxUsersFile) : outcome.error;
            return false;
        }
        text += line + "\n";
    }
    std::fclose(file);
    return parse_nut_users(text, users, error);
}

NutUnit nut_unit(const std::string& name, const DeviceIdentity& identity, const DeviceState& state,
                 bool current, const std::set<std::string>& allowed) {
    const Family family = identity.family;
    NutUnit unit;
    unit.name = name;
    unit.description = identity.model + (identity.serial.empty() ? "" : " S/N " + identity.serial);
    unit.current = current;
    const auto add = [&unit](const char* var, std::string value, const char* description) {
        unit.vars.emplace_back(var, std::move(value), description);
    };
    add("device.mfr", "Zorvane", "Device manufacturer");
    add("device.model", identity.model, "Device model");
    if (!identity.serial.empty()) {
        add("device.serial", identity.serial, "Device serial number");
    }
    add("device.type", "ups", "Device type");
    add("driver.name", "zorvane", "Driver name");
    add("driver.version", kToolVersion, "Driver version");

    std::string status;
    const auto flag = [&status](bool on, const char* word) {
        if (on) {
            status += status.empty() ? word : std::string(" ") + word;
        }
    };
    // A KX unit has no mains input: it always runs from its battery.
    flag(family == Family::Qm && bit_set(state, "source_present", family), "OL");
    flag(family != Family::Qm || !bit_set(state, "source_present", family), "OB");
    flag(bit_set(state, "battery_low", family), "LB");
    flag(family == Family::Qm &&
             (bit_set(state, "bulk", family) || bit_set(state, "absorption", family) ||
              bit_set(state, "float", family)),
         "CHRG");
    flag(!generation_on(state, family), "OFF");
    flag(bit_set(state, "overload", family), "OVER");
    add("ups.status", status, "UPS status");

    add("battery.voltage", fixed(state.bat_voltage.load(), 1), "Battery voltage (V)");
    if (const auto model = find_model(identity.model)) {
        add("battery.voltage.nominal", std::to_string(model_profile(*model).battery_volts),
            "Nominal battery voltage (V)");
    }
    add("output.voltage", fixed(state.out_voltage.load(), 1), "Output voltage (V)");
    add("output.current", fixed(state.out_current.load(), 2), "Output current (A)");
    // The load against the largest output power the unit is set to give.
    const float pmax = state.set_pmax.load();
    if (pmax > 0) {
        add("ups.load", fixed(100.0 * state.out_power.load() / pmax, 0),
            "Load on UPS (percent of the set maximum output power)");
    }
    add("ups.temperature", fixed(state.case_temperature.load(), 1), "UPS temperature (degrees C)");

    const auto model = find_model(identity.model);
    const int volts = model ? model_profile(*model).battery_volts : 0;
    for (const StandardSetting& standard : kStandardSettings) {
        const Variable* v = find_variable(standard.key);
        if (v == nullptr || !has_family(v->families, family)) {
            continue;
        }
        NutVar var{standard.nut, fixed((state.*v->field).load(), v->decimals()), v->description};
        if (allowed.contains(v->name_for(family))) {
            const NumberRange range = number_range(*v, volts);
            var.writable = true;
            var.setting = v->name_for(family);
            var.min = range.min;
            var.max = range.max;
        }
        unit.vars.push_back(std::move(var));
    }
    for (const Variable& v : variables()) {
        const char* setting = v.name_for(family);
        if (!v.writable() || !has_family(v.families, family) || !allowed.contains(setting) ||
            !v.applies(state)) {
            continue;
        }
        bool standard = false;
        for (const StandardSetting& s : kStandardSettings) {
            standard = standard || std::strcmp(s.key, v.key) == 0;
        }
        if (standard) {
            continue;
        }
        NutVar var{experimental_name(v), fixed((state.*v.field).load(), v.decimals()),
                   v.description};
        var.writable = true;
        var.setting = setting;
        if (v.choice) {
            for (int i = 0; i <= v.wire_max; ++i) {
                var.choices.emplace_back(v.options[i]);
            }
        } else {
            const NumberRange range = number_range(v, volts);
            var.min = range.min;
            var.max = range.max;
        }
        unit.vars.push_back(std::move(var));
    }
    if (allowed.contains(kGenerationName)) {
        unit.commands.push_back({"load.off", cmd_desc(false)});
        unit.commands.push_back({"load.on", cmd_desc(true)});
    }
    return unit;
}

struct NutServer::Client {
    int fd = -1;
    std::string in;
    std::string out;
    bool discarding = false;  // the rest of a line too long to be a command
    bool closing = false;     // close once `out` is sent
    Clock::time_point last_heard = Clock::now();
    NutSession session;
};

NutServer::NutServer(NutOptions options) : m_options(std::move(options)) {
    m_context.users = m_options.users;
    m_context.version = kToolVersion;
    m_context.carry_out = [this](const NutRequest& request) { m_requests.push_back(request); };
}

NutServer::~NutServer() {
    if (m_thread.joinable()) {
        const char stop = 'q';
        (void)!::write(m_wake_pipe[1], &stop, 1);
        m_thread.join();
    }
    for (const int fd : {m_listen, m_wake_pipe[0], m_wake_pipe[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool NutServer::start(std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(m_options.port);
    const int rc = ::getaddrinfo(m_options.host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        error = m_options.host + ": " + ::gai_strerror(rc);
        return false;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);
    error = "no address to listen on";
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 64) == 0) {
            m_listen = fd;
            break;
        }
        error = std::strerror(errno);
        ::close(fd);
    }
    if (m_listen < 0) {
        error = m_options.host + ":" + service + ": " + error;
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&bound), &length);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    if (::pipe2(m_wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::strerror(errno);
        return false;
    }
    ::fcntl(m_listen, F_SETFL, O_NONBLOCK);
    m_thread = std::thread([this] { run(); });
    return true;
}

std::string NutServer::served_name(const DeviceIdentity& identity) {
    for (const auto& [name, id] : m_ids) {
        if (id == identity.id) {
            return name;
        }
    }
    // The one name a NAS box asks for goes to the first unit served; any
    // other keeps its id (and is told of, since it was not expected).
    std::string name = identity.id;
    if (!m_options.single_name.empty()) {
        if (!m_ids.contains(m_options.single_name)) {
            name = m_options.single_name;
        } else {
            std::fprintf(stderr, "zorvane-cli: NUT: --nut-name is taken; %s served by its id\n",
                         identity.id.c_str());
        }
    }
    m_ids[name] = identity.id;
    return name;
}

void NutServer::update(const DeviceIdentity& identity, const DeviceState& state, bool current) {
    if (identity.family != Family::Qm && !m_options.serve_kx) {
        return;
    }
    std::lock_guard lock(m_mutex);
    NutUnit unit = nut_unit(served_name(identity), identity, state, current, m_options.allowed);
    // A primary's FSD holds until the mains is back with the battery not
    // low: the hosts that start again must not find it and shut down anew.
    const NutVar& status = *std::find_if(unit.vars.begin(), unit.vars.end(),
                                         [](const NutVar& v) { return v.name == "ups.status"; });
    if (current && status.value.starts_with("OL") && status.value.find("LB") == std::string::npos) {
        m_context.fsd.erase(unit.name);
    }
    for (NutUnit& served : m_context.units) {
        if (served.name == unit.name) {
            served = std::move(unit);
            return;
        }
    }
    std::fprintf(stderr, "zorvane-cli: NUT: %s served as %s\n", identity.id.c_str(),
                 unit.name.c_str());
    m_context.units.push_back(std::move(unit));
}

std::vector<NutRequest> NutServer::take_requests() {
    std::lock_guard lock(m_mutex);
    std::vector<NutRequest> taken = std::exchange(m_requests, {});
    for (NutRequest& request : taken) {
        request.ups = m_ids[request.ups];
    }
    return taken;
}

void NutServer::serve(Client& client) {
    char buffer[4096];
    const ssize_t got = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
        client.closing = true;
        client.out.clear();
        return;
    }
    client.last_heard = Clock::now();
    bool queued = false;
    for (ssize_t i = 0; i < got && !client.closing; ++i) {
        const char c = buffer[i];
        if (c != '\n') {
            if (!client.discarding && client.in.size() < kMaxLine) {
                client.in += c;
            } else if (!client.discarding) {
                client.discarding = true;
                client.in.clear();
                client.out += "ERR INVALID-ARGUMENT\n";
            }
            continue;
        }
        if (client.discarding) {
            client.discarding = false;
            continue;
        }
        NutReply reply;
        {
            std::lock_guard lock(m_mutex);
            const size_t before = m_requests.size();
            reply = answer_nut(client.session, m_context, client.in);
            queued = queued || m_requests.size() != before;
        }
        client.in.clear();
        client.out += reply.text;
        client.closing = reply.close;
        if (client.out.size() > kMaxOutput) {
            // It asks faster than it reads: let it go rather than hold more.
            client.out.clear();
            client.closing = true;
        }
    }
    if (queued && m_wake) {
        m_wake();
    }
}

void NutServer::run() {
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{m_wake_pipe[0], POLLIN, 0}, {m_listen, POLLIN, 0}});
        for (const auto& client : clients) {
            fds.push_back({client->fd,
                           static_cast<short>(client->out.empty() ? POLLIN : POLLIN | POLLOUT), 0});
        }
        if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) {
            return;
        }
        if (fds[0].revents != 0) {
            break;
        }
        for (size_t i = 0; i < clients.size(); ++i) {
            Client& client = *clients[i];
            const short events = fds[i + 2].revents;
            if ((events & (POLLIN | POLLHUP | POLLERR)) != 0 && !client.closing) {
                serve(client);
            }
            if (!client.out.empty() && (events & POLLOUT) != 0) {
                const ssize_t sent =
                    ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
                if (sent > 0) {
                    client.out.erase(0, static_cast<size_t>(sent));
                } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
                    client.out.clear();
                    client.closing = true;
                }
            }
            if (Clock::now() - client.last_heard > kIdleLimit) {
                client.out.clear();
                client.closing = true;
            }
        }
        // Closed ones go once they have had their last answer.
        std::erase_if(clients, [this](const std::unique_ptr<Client>& client) {
            if (!client->closing || !client->out.empty()) {
                return false;
            }
            std::lock_guard lock(m_mutex);
            end_nut_session(client->session, m_context);
            ::close(client->fd);
            return true;
        });
        if ((fds[1].revents & POLLIN) != 0) {
            for (;;) {
                sockaddr_storage from{};
                socklen_t length = sizeof from;
                const int fd = ::accept4(m_listen, reinterpret_cast<sockaddr*>(&from), &length,
                                         SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) {
                    break;
                }
                if (clients.size() >= kMaxClients) {
                    ::close(fd);
                    continue;
                }
                auto client = std::make_unique<Client>();
                client->fd = fd;
                char host[NI_MAXHOST] = {};
                ::getnameinfo(reinterpret_cast<sockaddr*>(&from), length, host, sizeof host,
                              nullptr, 0, NI_NUMERICHOST);
                client->session.address = host;
                clients.push_back(std::move(client));
            }
        }
    }
    for (const auto& client : clients) {
        ::close(client->fd);
    }
}

}  // namespace zorvane::monitor
