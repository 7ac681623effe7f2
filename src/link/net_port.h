// Serial ports reached over the network: a bridge (ser2net, a serial server)
// that carries the line's bytes over TCP, either raw (tcp://HOST:PORT, the
// line fixed on the bridge) or as Telnet with the COM-PORT-OPTION of RFC 2217
// (rfc2217://HOST:PORT, the tool sets the line itself).
//
// Such a port is named by its address wherever a device path is taken; the
// backend of make_serial_backend() opens it like any other port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane {

enum class NetMode : uint8_t { Raw, Rfc2217 };

struct NetAddress {
    NetMode mode = NetMode::Raw;
    std::string host;  // a name, an IPv4 address or an IPv6 address (without brackets)
    uint16_t port = 0;
};

// Whether `text` is written as a network port (tcp:// or rfc2217://, any
// case), well-formed or not.
bool is_network_port(std::string_view text);

// The address of "tcp://HOST:PORT" or "rfc2217://HOST:PORT" ("[::1]:PORT"
// for an IPv6 address); nothing, with the reason in `why` when given, for a
// text that is not one (no host, no port, a port outside 1…65535, a path).
std::optional<NetAddress> parse_network_port(std::string_view text, std::string* why = nullptr);

// The total time a read over the network may wait for a whole reply, in
// milliseconds; the same bound holds for connecting and for the bridge's
// answers to the line settings. One value for the whole process.
inline constexpr int kDefaultNetTimeoutMs = 1000;  // a LAN or Wi-Fi bridge
inline constexpr int kMobileNetTimeoutMs = 3000;   // what a mobile link needs
inline constexpr int kMinNetTimeoutMs = 100;
inline constexpr int kMaxNetTimeoutMs = 60000;
int net_timeout_ms();
void set_net_timeout_ms(int ms);  // clamped to kMinNetTimeoutMs…kMaxNetTimeoutMs

// Network ports the device search looks at besides the machine's own ports
// (the window's list of added bridges). Kept in the order given, each once.
void set_searched_network_ports(std::vector<std::string> addresses);
std::vector<std::string> searched_network_ports();

// Whether the bytes so far (from the buffer's start) make a whole reply to
// `request` over a network link, which says nothing through its timing: the
// reply catalogue's length for a read, 13 for the serial number, 5 for the
// battery probe, the caller's length when it gives one, the request's own
// length for a write or an action (the unit echoes it). A status reply is
// whole at 6 bytes, or at 5 once `short_form_settled` (no sixth byte came in
// time): a short reply is a prefix of a long one whose third status byte is
// 0xAA. 0 when no reply is expected at all (the wake-up line).
struct NetReplyRule {
    int length = 0;             // bytes that end the read; 0: none
    bool status_forms = false;  // 5 or 6 bytes, as above
    uint8_t reply_code = 0;     // code | 0x80, what byte 1 must be
};
NetReplyRule net_reply_rule(const uint8_t* request, int request_length, int expected_length);

// Drops bytes from the front of a reply until it starts as a reply of the
// rule does (BE, code|80), so that the tail of a late reply to an earlier
// request is not taken for this one. Returns the bytes kept.
size_t align_net_reply(const NetReplyRule& rule, uint8_t* bytes, size_t count);

// Telnet as an RFC 2217 client speaks it, apart from the socket: bytes from
// the bridge are split into line data and Telnet commands, and line data to
// the bridge has its 0xFF bytes doubled.
namespace telnet {
inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;
inline constexpr uint8_t kBinary = 0;
inline constexpr uint8_t kSuppressGoAhead = 3;
inline constexpr uint8_t kComPort = 44;

// COM-PORT-OPTION commands (client to bridge); the bridge answers each with
// the code plus 100 and the value it now uses.
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kSetControl = 5;
inline constexpr uint8_t kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;
inline constexpr uint8_t kParityEven = 3;
inline constexpr uint8_t kNoFlowControl = 1;
inline constexpr uint8_t kPurgeBoth = 3;

// Doubles every 0xFF of `data` onto the end of `out`.
void escape(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
// IAC SB COM-PORT code value… IAC SE, the value escaped.
std::vector<uint8_t> com_port_command(uint8_t code, const std::vector<uint8_t>& value);

struct Negotiation {
    uint8_t verb = 0;  // kWill, kWont, kDo or kDont
    uint8_t option = 0;
};
struct Subnegotiation {
    uint8_t option = 0;
    std::vector<uint8_t> data;  // unescaped, without IAC SE
};

// Splits the bridge's stream; a command cut between two reads is kept for
// the next.
class Decoder {
  public:
    // Appends the line data of `in` to `data`; the commands go to the lists.
    void feed(const uint8_t* in, size_t size, std::vector<uint8_t>& data,
              std::vector<Negotiation>& negotiations, std::vector<Subnegotiation>& subs);

  private:
    enum class State : uint8_t { Data, Iac, Verb, Sub, SubIac };
    State m_state = State::Data;
    uint8_t m_verb = 0;
    bool m_have_option = false;
    Subnegotiation m_sub;
};
}  // namespace telnet

}  // namespace zorvane
