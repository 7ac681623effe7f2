#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "device/device_state.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "scripted_port.h"

namespace zorvane {
namespace {

using testing::ScriptedPort;
using Bytes = std::vector<uint8_t>;

Bytes count_up(size_t n, uint8_t from = 0) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>(from + i);
    }
    return bytes;
}

class Transact : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(link.port.open(1));
        buffer.fill(0);
        build_request(buffer, 0x56);
    }
    void TearDown() override {
        device_state.g_main_thread_id.store(0);
        set_link_failure_handler(nullptr);
    }
    ScriptedPort link;
    std::array<uint8_t, kFrameBufferSize> buffer{};
};

TEST_F(Transact, AClosedPortGivesMinusOneWithoutAnyIo) {
    link.port.close();
    link.reply({0xBE, 0xD6, 0xAA});
    EXPECT_EQ(transact(link.port, buffer, 3, 0), -1);
    EXPECT_EQ(transact(link.port, buffer, 3, 13), -1);
    EXPECT_TRUE(link.log->writes.empty());
    EXPECT_TRUE(link.log->read_limits.empty());
}

TEST_F(Transact, ReadLoopEndsOnlyOnTheExactCount) {
    // Expected length 0: one read of up to 100 bytes, whatever it brings.
    link.reply(count_up(7));
    EXPECT_EQ(transact(link.port, buffer, 3, 0), 7);
    EXPECT_EQ(link.log->writes, (std::vector<Bytes>{{0xBE, 0x56, 0xAA}}));
    EXPECT_EQ(link.log->read_limits, (std::vector<size_t>{100}));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 7), count_up(7));

    // One byte more than expected overshoots the count and runs out all ten
    // reads.
    link.log->read_limits.clear();
    link.reply(count_up(6));
    EXPECT_EQ(transact(link.port, buffer, 3, 5), 6);
    EXPECT_EQ(link.log->read_limits.size(), 10u);

    // Two bursts: the second lands right after the first.
    link.log->read_limits.clear();
    link.reply(count_up(8, 0x10));
    link.reply(count_up(5, 0x18));
    EXPECT_EQ(transact(link.port, buffer, 3, 13), 13);
    EXPECT_EQ(link.log->read_limits, (std::vector<size_t>{100, 92}));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 13), count_up(13, 0x10));

    // Silence: ten time-outs, 0, and no failure.
    link.log->read_limits.clear();
    EXPECT_EQ(transact(link.port, buffer, 3, 5), 0);
    EXPECT_EQ(link.log->read_limits.size(), 10u);

    // Time-outs between bursts count against the ten reads.
    for (int i = 0; i < 9; ++i) {
        link.timeout();
    }
    link.reply(count_up(5));
    EXPECT_EQ(transact(link.port, buffer, 3, 5), 5);
    for (int i = 0; i < 10; ++i) {
        link.timeout();
    }
    link.reply(count_up(5));
    EXPECT_EQ(transact(link.port, buffer, 3, 5), 0);
    EXPECT_EQ(link.log->reads.size(), 1u) << "an eleventh read was made";
}

TEST_F(Transact, LinkFailureCallsTheHandlerAndGivesZero) {
    std::vector<bool> quits;
    set_link_failure_handler([&](bool quit) { quits.push_back(quit); });

    // During the device search nobody can be asked to quit.
    link.reply(count_up(3));
    link.failure();
    EXPECT_EQ(transact(link.port, buffer, 3, 13), 0);
    EXPECT_EQ(quits, std::vector<bool>{false});

    device_state.g_main_thread_id.store(1);
    link.failure();
    EXPECT_EQ(transact(link.port, buffer, 3, 0), 0);
    EXPECT_EQ(quits, (std::vector<bool>{false, true}));

    // A write that fails reads nothing.
    link.log->read_limits.clear();
    link.log->fail_write = true;
    EXPECT_EQ(transact(link.port, buffer, 3, 5), 0);
    EXPECT_TRUE(link.log->read_limits.empty());
    EXPECT_EQ(quits.size(), 3u);

    // The port stays open: closing it is the caller's business.
    EXPECT_TRUE(link.port.is_open());
}

TEST_F(Transact, ATalkativeDeviceNeverWritesPastTheBuffer) {
    // The buffer is the first 100 bytes of a larger block; the rest must stay
    // untouched.
    std::array<uint8_t, 300> block{};
    block.fill(0xEE);
    const std::span<uint8_t> frame(block.data(), kFrameBufferSize);
    build_request(frame, 0x53);

    link.reply(count_up(60));
    link.reply(count_up(60));
    link.reply(count_up(60));
    EXPECT_EQ(transact(link.port, frame, 3, 150), 100);
    EXPECT_EQ(link.log->read_limits, (std::vector<size_t>{100, 40}));
    for (size_t i = kFrameBufferSize; i < block.size(); ++i) {
        ASSERT_EQ(block[i], 0xEE) << "byte " << i;
    }

    // A caller's buffer smaller than a frame limits every read, too.
    link.log->reads.clear();
    link.log->read_limits.clear();
    link.reply(count_up(60));
    const std::span<uint8_t> small(block.data() + 200, 10);
    build_request(small, 0x41);
    EXPECT_EQ(transact(link.port, small, 3, 0), 10);
    EXPECT_EQ(transact(link.port, small, 3, 20), 10);
    for (const size_t limit : link.log->read_limits) {
        EXPECT_LE(limit, 10u);
    }
    EXPECT_EQ(block[210], 0xEE);
}

}  // namespace
}  // namespace zorvane
