// Network port names, where a reply over the network ends, and the Telnet
// layer of RFC 2217, without a socket.
#include "link/net_port.h"

#include <gtest/gtest.h>

#include <array>

#include "link/frame.h"
#include "link/serial_port.h"
#include "scripted_port.h"

namespace zorvane {
namespace {

TEST(NetPortName, AddressesAreReadOrRefusedWithTheirReason) {
    const auto raw = parse_network_port("tcp://bridge.local:4001");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->mode, NetMode::Raw);
    EXPECT_EQ(raw->host, "bridge.local");
    EXPECT_EQ(raw->port, 4001);
    const auto telnet = parse_network_port("RFC2217://[::1]:65535");
    ASSERT_TRUE(telnet);
    EXPECT_EQ(telnet->mode, NetMode::Rfc2217);
    EXPECT_EQ(telnet->host, "::1");
    EXPECT_EQ(telnet->port, 65535);

    struct Bad {
        const char* text;
        const char* why;
    };
    for (const Bad bad :
         {Bad{"tcp://bridge", "no port"}, Bad{"tcp://:4001", "no host"},
          Bad{"tcp://bridge:0", "1 to 65535"}, Bad{"tcp://bridge:65536", "1 to 65535"},
          Bad{"tcp://bridge:40x1", "1 to 65535"}, Bad{"tcp://::1:4001", "IPv6"},
          Bad{"tcp://host/path:4001", "not a name"}, Bad{"/dev/ttyUSB0", "tcp://"}}) {
        std::string why;
        EXPECT_FALSE(parse_network_port(bad.text, &why)) << bad.text;
        EXPECT_NE(why.find(bad.why), std::string::npos) << bad.text << ": " << why;
    }
    EXPECT_TRUE(is_network_port("TCP://x"));
    EXPECT_FALSE(is_network_port("COM3"));
}

TEST(NetReplyEnd, EachRequestEndsOnItsOwnReply) {
    std::array<uint8_t, kFrameBufferSize> request{};
    auto rule_of = [&](uint8_t code, int expected = 0) {
        return net_reply_rule(request.data(), build_request(request, code), expected);
    };
    EXPECT_EQ(rule_of(0x41).length, 11);
    EXPECT_EQ(rule_of(0x62).length, 4);
    EXPECT_EQ(rule_of(cmd::kSerialNumber).length, kSerialNumberLength);
    EXPECT_EQ(rule_of(cmd::kBatteryProbe).length, kBatteryProbeLength);
    EXPECT_EQ(rule_of(cmd::kCounters, 45).length, 45);
    EXPECT_TRUE(rule_of(cmd::kStatus).status_forms);
    EXPECT_EQ(rule_of(cmd::kStatus).reply_code, 0xCA);
    // A write is echoed; the wake-up line of zeros expects nothing.
    const int write = build_request_u16(request, 0x4D, 445);
    EXPECT_EQ(net_reply_rule(request.data(), write, 0).length, 5);
    const std::array<uint8_t, 13> zeros{};
    EXPECT_EQ(net_reply_rule(zeros.data(), 13, 0).reply_code, 0);

    // The tail of a late reply in front of this one is dropped; a lone
    // start byte at the end may begin it.
    const NetReplyRule rule = rule_of(0x4C);
    std::vector<uint8_t> bytes = {0x01, 0xAA, 0xBE, 0xC1, 0x00, 0xBE, 0xCC, 0x00, 0x7B, 0xAA};
    bytes.resize(align_net_reply(rule, bytes.data(), bytes.size()));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xBE, 0xCC, 0x00, 0x7B, 0xAA}));
    std::vector<uint8_t> start = {0x55, 0xBE};
    EXPECT_EQ(align_net_reply(rule, start.data(), start.size()), 1u);
}

// transact on a port named as a network port: pauses between the pieces of
// a reply do not end it, and nothing after the reply is taken.
TEST(NetReplyEnd, TransactReadsOnUntilTheReplyIsWhole) {
    testing::ScriptedPort scripted;
    ASSERT_TRUE(scripted.port.open_path("tcp://127.0.0.1:4001"));
    scripted.reply({0xBE, 0xC1, 0x08});
    scripted.timeout();
    scripted.timeout();
    scripted.reply({0xFC, 0x01, 0xA6, 0x03, 0xC3, 0x02, 0x11, 0xAA, 0xBE, 0xCA});
    std::array<uint8_t, kFrameBufferSize> buffer{};
    EXPECT_EQ(transact(scripted.port, buffer, build_request(buffer, 0x41), 0), 11);
    EXPECT_TRUE(reply_valid(buffer.data(), 11, 0x41, 11));
    // The two bytes after the reply are still waiting.
    ASSERT_EQ(scripted.log->reads.size(), 1u);
    EXPECT_EQ(scripted.log->reads.front().bytes, (std::vector<uint8_t>{0xBE, 0xCA}));

    // A status reply split after five bytes is read to its sixth.
    scripted.log->reads.clear();
    scripted.reply({0xBE, 0xCA, 0x04, 0x01, 0xAA});
    scripted.timeout();
    scripted.reply({0xAA});
    EXPECT_EQ(transact(scripted.port, buffer, build_request(buffer, cmd::kStatus), 0), 6);
    // A short form with nothing after it ends as a KX reply.
    set_net_timeout_ms(kMinNetTimeoutMs);
    scripted.reply({0xBE, 0xCA, 0x04, 0x01, 0xAA});
    EXPECT_EQ(transact(scripted.port, buffer, build_request(buffer, cmd::kStatus), 0), 5);
    set_net_timeout_ms(kDefaultNetTimeoutMs);
}

TEST(Telnet, LineDataAndCommandsAreSplitEvenAcrossReads) {
    telnet::Decoder decoder;
    std::vector<uint8_t> data;
    std::vector<telnet::Negotiation> negotiations;
    std::vector<telnet::Subnegotiation> subs;
    // 0xFF of the line doubled, a DO cut after IAC, a baud-rate answer whose
    // value holds an escaped 0xFF and is cut inside.
    const std::vector<uint8_t> first = {0xBE, 0xFF, 0xFF, 0xAA, 0xFF};
    const std::vector<uint8_t> second = {0xFD, 0x2C, 0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00};
    const std::vector<uint8_t> third = {0xFF, 0xFF, 0xFF, 0xF0, 0x12};
    for (const auto* chunk : {&first, &second, &third}) {
        decoder.feed(chunk->data(), chunk->size(), data, negotiations, subs);
    }
    EXPECT_EQ(data, (std::vector<uint8_t>{0xBE, 0xFF, 0xAA, 0x12}));
    ASSERT_EQ(negotiations.size(), 1u);
    EXPECT_EQ(negotiations[0].verb, telnet::kDo);
    EXPECT_EQ(negotiations[0].option, telnet::kComPort);
    ASSERT_EQ(subs.size(), 1u);
    EXPECT_EQ(subs[0].option, telnet::kComPort);
    EXPECT_EQ(subs[0].data, (std::vector<uint8_t>{0x65, 0x00, 0x00, 0xFF}));

    EXPECT_EQ(telnet::com_port_command(telnet::kSetParity, {0xFF}),
              (std::vector<uint8_t>{0xFF, 0xFA, 0x2C, 0x03, 0xFF, 0xFF, 0xFF, 0xF0}));
}

}  // namespace
}  // namespace zorvane
