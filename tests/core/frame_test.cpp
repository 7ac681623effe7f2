#include "link/frame.h"

#include <gtest/gtest.h>

#include "link/reply_catalogue.h"

namespace zorvane {
namespace {

TEST(ReplyCatalogue, OneWordRepliesStoreTheirFieldScaled) {
    DeviceState state;
    const uint8_t reply[] = {0xBE, 0xCC, 0x00, 0x7D, 0xAA};  // 0x4C, 125
    const ReplyEntry* entry = find_reply(0x4C);
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(reply_valid(reply, 5, 0x4C, entry->length));
    decode_reply(*entry, reply, state);
    EXPECT_FLOAT_EQ(state.set_uout_nom.load(), 12.5f);

    const uint8_t rfloat[] = {0xBE, 0xE8, 0x05, 0xA0, 0xAA};  // 0x68, 1440 minutes
    const ReplyEntry* rfloat_entry = find_reply(0x68);
    decode_reply(*rfloat_entry, rfloat, state);
    EXPECT_EQ(state.set_rfloat_time.load(), 1.0f);
}

}  // namespace
}  // namespace zorvane
