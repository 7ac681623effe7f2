#include "link/net_port.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <memory>
#include <mutex>

#include "link/frame.h"
#include "link/reply_catalogue.h"
#include "link/serial_port.h"

namespace zorvane {

namespace {

constexpr std::string_view kRawScheme = "tcp://";
constexpr std::string_view kRfc2217Scheme = "rfc2217://";

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

bool fail(std::string* why, const char* text) {
    if (why != nullptr) {
        *why = text;
    }
    return false;
}

std::atomic<int> g_net_timeout_ms{kDefaultNetTimeoutMs};

std::mutex g_searched_mutex;
std::vector<std::string> g_searched;

}  // namespace

bool is_network_port(std::string_view text) {
    return starts_with_nocase(text, kRawScheme) || starts_with_nocase(text, kRfc2217Scheme);
}

std::optional<NetAddress> parse_network_port(std::string_view text, std::string* why) {
    NetAddress address;
    std::string_view rest;
    if (starts_with_nocase(text, kRawScheme)) {
        rest = text.substr(kRawScheme.size());
    } else if (starts_with_nocase(text, kRfc2217Scheme)) {
        address.mode = NetMode::Rfc2217;
        rest = text.substr(kRfc2217Scheme.size());
    } else {
        fail(why, "not tcp://HOST:PORT or rfc2217://HOST:PORT");
        return std::nullopt;
    }
    std::string_view host;
    std::string_view port;
    if (rest.starts_with('[')) {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            fail(why, "an IPv6 address is written [ADDRESS]:PORT");
            return std::nullopt;
        }
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            fail(why, "the address has no port (HOST:PORT)");
            return std::nullopt;
        }
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            fail(why, "an IPv6 address is written [ADDRESS]:PORT");
            return std::nullopt;
        }
    }
    if (host.empty()) {
        fail(why, "the address has no host");
        return std::nullopt;
    }
    if (host.find_first_of("/?#@ \t") != std::string_view::npos) {
        fail(why, "the host is not a name or an address");
        return std::nullopt;
    }
    unsigned number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || error != std::errc{} || end != port.data() + port.size() || number < 1 ||
        number > 65535) {
        fail(why, "the port is not a number from 1 to 65535");
        return std::nullopt;
    }
    address.host = std::string(host);
    address.port = static_cast<uint16_t>(number);
    return address;
}

int net_timeout_ms() {
    return g_net_timeout_ms.load();
}

void set_net_timeout_ms(int ms) {
    g_net_timeout_ms.store(std::clamp(ms, kMinNetTimeoutMs, kMaxNetTimeoutMs));
}

void set_searched_network_ports(std::vector<std::string> addresses) {
    std::vector<std::string> kept;
    for (std::string& address : addresses) {
        if (std::find(kept.begin(), kept.end(), address) == kept.end()) {
            kept.push_back(std::move(address));
        }
    }
    std::lock_guard lock(g_searched_mutex);
    g_searched = std::move(kept);
}

std::vector<std::string> searched_network_ports() {
    std::lock_guard lock(g_searched_mutex);
    return g_searched;
}

NetReplyRule net_reply_rule(const uint8_t* request, int request_length, int expected_length) {
    NetReplyRule rule;
    if (request_length < 3 || request[0] != kFrameStart) {
        return rule;  // not a frame: nothing answers it
    }
    const uint8_t code = request[1];
    rule.reply_code = static_cast<uint8_t>(code | kReplyBit);
    if (expected_length > 0) {
        rule.length = expected_length;
    } else if (code == cmd::kStatus) {
        rule.status_forms = true;
    } else if (const ReplyEntry* entry = find_reply(code)) {
        rule.length = entry->length;
    } else if (code == cmd::kBatteryProbe) {
        rule.length = kBatteryProbeLength;
    } else if (code == cmd::kSerialNumber) {
        rule.length = kSerialNumberLength;
    } else {
        rule.length = request_length;
    }
    return rule;
}

size_t align_net_reply(const NetReplyRule& rule, uint8_t* bytes, size_t count) {
    if (rule.reply_code == 0) {
        return count;
    }
    size_t start = 0;
    while (start < count) {
        if (bytes[start] == kFrameStart &&
            (start + 1 == count || bytes[start + 1] == rule.reply_code)) {
            break;
        }
        ++start;
    }
    if (start > 0) {
        std::memmove(bytes, bytes + start, count - start);
    }
    return count - start;
}

namespace telnet {

void escape(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < size; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) {
            out.push_back(kIac);
        }
    }
}

std::vector<uint8_t> com_port_command(uint8_t code, const std::vector<uint8_t>& value) {
    std::vector<uint8_t> out{kIac, kSb, kComPort, code};
    escape(value.data(), value.size(), out);
    out.push_back(kIac);
    out.push_back(kSe);
    return out;
}

void Decoder::feed(const uint8_t* in, size_t size, std::vector<uint8_t>& data,
                   std::vector<Negotiation>& negotiations, std::vector<Subnegotiation>& subs) {
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = in[i];
        switch (m_state) {
            case State::Data:
                if (b == kIac) {
                    m_state = State::Iac;
                } else {
                    data.push_back(b);
                }
                break;
            case State::Iac:
                if (b == kIac) {
                    data.push_back(kIac);
                    m_state = State::Data;
                } else if (b >= kWill && b <= kDont) {
                    m_verb = b;
                    m_state = State::Verb;
                } else if (b == kSb) {
                    m_sub = {};
                    m_have_option = false;  // the option byte comes first
                    m_state = State::Sub;
                } else {
                    m_state = State::Data;  // NOP, GA, a break …: nothing for the line
                }
                break;
            case State::Verb:
                negotiations.push_back({m_verb, b});
                m_state = State::Data;
                break;
            case State::Sub:
                if (b == kIac) {
                    m_state = State::SubIac;
                } else if (!m_have_option) {
                    m_sub.option = b;
                    m_have_option = true;
                } else {
                    m_sub.data.push_back(b);
                }
                break;
            case State::SubIac:
                if (b == kSe) {
                    subs.push_back(std::move(m_sub));
                    m_sub = {};
                    m_state = State::Data;
                } else {
                    // IAC IAC is a 0xFF of the value; anything else is
                    // taken as one too rather than lose the command.
                    m_sub.data.push_back(b);
                    m_state = State::Sub;
                }
                break;
        }
    }
}

}  // namespace telnet

namespace {

// The platform's serial line or a network bridge, chosen by the name each
// open is given, so that everything that opens a port by its path reaches
// either.
class AnyPortBackend final : public PortBackend {
  public:
    PortOpen open(const std::string& path) override {
        close();
        std::unique_ptr<PortBackend>& chosen = is_network_port(path) ? m_network : m_local;
        if (!chosen) {
            chosen = is_network_port(path) ? make_network_backend() : make_local_backend();
        }
        m_active = chosen.get();
        return m_active->open(path);
    }
    void close() override {
        if (m_active != nullptr) {
            m_active->close();
        }
    }
    bool is_open() const override { return m_active != nullptr && m_active->is_open(); }
    void apply_line_settings() override {
        if (m_active != nullptr) {
            m_active->apply_line_settings();
        }
    }
    bool write(const uint8_t* data, size_t size) override {
        return m_active != nullptr && m_active->write(data, size);
    }
    int read(uint8_t* data, size_t size) override {
        return m_active != nullptr ? m_active->read(data, size) : -1;
    }
    void discard_input() override {
        if (m_active != nullptr) {
            m_active->discard_input();
        }
    }

  private:
    std::unique_ptr<PortBackend> m_local;
    std::unique_ptr<PortBackend> m_network;
    PortBackend* m_active = nullptr;
};

#ifdef _WIN32
// The Windows build speaks to local COM ports only.
class NoNetworkBackend final : public PortBackend {
  public:
    PortOpen open(const std::string& path) override {
        return PortOpen::failed(PortAccess::OtherError, 0,
                                path + ": network ports are not available on this system");
    }
    void close() override {}
    bool is_open() const override { return false; }
    void apply_line_settings() override {}
    bool write(const uint8_t*, size_t) override { return false; }
    int read(uint8_t*, size_t) override { return -1; }
};
#endif

}  // namespace

#ifdef _WIN32
std::unique_ptr<PortBackend> make_network_backend() {
    return std::make_unique<NoNetworkBackend>();
}
#endif

std::unique_ptr<PortBackend> make_serial_backend() {
    return std::make_unique<AnyPortBackend>();
}

}  // namespace zorvane
