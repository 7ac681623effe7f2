#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "link/frame.h"
#include "link/serial_port.h"
#include "scripted_port.h"
#include "state/device_state.h"

namespace zorvane {
namespace {

using Bytes = std::vector<uint8_t>;
using Limits = std::vector<size_t>;

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
        build_request(buffer, 0x56);
    }
    void TearDown() override {
        device_state.g_main_thread_id.store(0);
        set_link_failure_handler(nullptr);
    }
    testing::ScriptedPort link;
    std::array<uint8_t, kFrameBufferSize> buffer{};
};

TEST_F(Transact, ReadLoopEndsOnlyOnTheExactCount) {
    link.port.close();
    link.reply({0xBE, 0xD6, 0xAA});
    EXPECT_EQ(transact(link.port, buffer, 3, 13), -1) << "closed port";
    EXPECT_TRUE(link.log->writes.empty());
    EXPECT_TRUE(link.log->read_limits.empty());
    ASSERT_TRUE(link.port.open(1));
    link.log->reads.clear();

    // Expected length 0: one read of up to 100 bytes, whatever it brings.
    link.reply(count_up(7));
    EXPECT_EQ(transact(link.port, buffer, 3, 0), 7);
    EXPECT_EQ(link.log->writes, (std::vector<Bytes>{{0xBE, 0x56, 0xAA}}));
    EXPECT_EQ(link.log->read_limits, Limits{100});

    // One byte more than expected overshoots the count: all ten reads.
    link.log->read_limits.clear();
    link.reply(count_up(6));
    EXPECT_EQ(transact(link.port, buffer, 3, 5), 6);
    EXPECT_EQ(link.log->read_limits.size(), 10u);

    // Two bursts: the second lands right after the first.
    link.log->read_limits.clear();
    link.reply(count_up(8, 0x10));
    link.reply(count_up(5, 0x18));
    EXPECT_EQ(transact(link.port, buffer, 3, 13), 13);
    EXPECT_EQ(link.log->read_limits, (Limits{100, 92}));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 13), count_up(13, 0x10));

    // Time-outs count against the ten reads; an eleventh is never made.
    for (int i = 0; i < 10; ++i) {
        link.timeout();
    }
    link.reply(count_up(5));
    EXPECT_EQ(transact(link.port, buffer, 3, 5), 0);
    EXPECT_EQ(link.log->reads.size(), 1u);
}

TEST_F(Transact, LinkFailureCallsTheHandlerAndGivesZero) {
    std::vector<bool> quits;
    set_link_failure_handler([&](bool quit) { quits.push_back(quit); });

    // During the device search nobody can be asked to quit.
    link.reply(count_up(3));
    link.failure();
    EXPECT_EQ(transact(link.port, buffer, 3, 13), 0);
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
    EXPECT_TRUE(link.port.is_open()) << "closing is the caller's business";
}

TEST_F(Transact, ATalkativeDeviceNeverWritesPastTheBuffer) {
    // The buffer is the front of a larger block whose rest must stay intact.
    std::array<uint8_t, 300> block{};
    block.fill(0xEE);
    const std::span<uint8_t> frame(block.data(), kFrameBufferSize);
    build_request(frame, 0x53);
    for (int i = 0; i < 3; ++i) {
        link.reply(count_up(60));
    }
    EXPECT_EQ(transact(link.port, frame, 3, 150), 100);
    EXPECT_EQ(link.log->read_limits, (Limits{100, 40}));

    // A caller's buffer smaller than a frame limits every read, too.
    link.log->read_limits.clear();
    const std::span<uint8_t> small(block.data() + 200, 10);
    build_request(small, 0x41);
    EXPECT_EQ(transact(link.port, small, 3, 0), 10);
    EXPECT_EQ(transact(link.port, small, 3, 20), 10);
    EXPECT_EQ(link.log->read_limits, (Limits{10, 10}));
    for (size_t i = 0; i < block.size(); ++i) {
        if (i >= kFrameBufferSize && (i < 200 || i >= 210)) {
            ASSERT_EQ(block[i], 0xEE) << "byte " << i;
        }
    }
}

}  // namespace
}  // namespace zorvane
