#include "counters/counter_format.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvane {
namespace {

TEST(FormatCounter, DurationsSplitIntoDaysHoursMinutesSeconds) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "0 д. 0 ч. 0 мин. 0 с."},
        {86399, "0 д. 23 ч. 59 мин. 59 с."},
        {86400, "1 д. 0 ч. 0 мин. 0 с."},
        {90061, "1 д. 1 ч. 1 мин. 1 с."},
        {1000000, "11 д. 13 ч. 46 мин. 40 с."},
        {2147483647, "24855 д. 3 ч. 14 мин. 7 с."},
        // A wire value of 2^31 or more arrives negative; truncating divisions
        // give every part the sign instead of borrowing from the larger unit.
        {-1, "0 д. 0 ч. 0 мин. -1 с."},
        {-90061, "-1 д. -1 ч. -1 мин. -1 с."},
        {INT32_MIN, "-24855 д. -3 ч. -14 мин. -8 с."},
    };
    for (auto [seconds, text] : cases) {
        for (int index = 1; index <= 4; ++index)
            EXPECT_EQ(format_counter(index, seconds), text) << index << ": " << seconds;
    }
}

TEST(FormatCounter, EnergyAndCounts) {
    // Latin B and A, then a Cyrillic ч (U+0447).
    EXPECT_EQ(format_counter(5, 1234), "1234 \x42\x41*\xD1\x87");
    EXPECT_EQ(format_counter(5, -1), "-1 BA*ч");
    EXPECT_EQ(format_counter(5, 0), "0 BA*ч");
    EXPECT_EQ(format_counter(0, 65535), "65535");
    EXPECT_EQ(format_counter(6, 90061), "90061");  // a count is never a duration
    EXPECT_EQ(format_counter(15, 510), "510");
    EXPECT_EQ(format_counter(16, 5), "5");
    EXPECT_EQ(format_counter(-1, 5), "");
    EXPECT_EQ(format_counter(17, 5), "");
}

TEST(CounterCaptions, CaptionsCarryTheirLeaders) {
    const size_t leaders[kCounterCount] = {68, 73, 56, 29, 64, 63, 15, 10, 42,
                                           50, 31, 8,  35, 35, 6,  56, 43};
    ASSERT_EQ(counter_table().size(), size_t{kCounterCount});
    for (int index = 0; index < kCounterCount; ++index) {
        const std::string caption = counter_table()[static_cast<size_t>(index)].caption;
        const std::string gap = index == 3 ? " " : "";
        EXPECT_EQ(counter_caption_with_leader(index),
                  caption + gap + std::string(leaders[index], '.'))
            << index;
        EXPECT_NE(caption.back(), ' ');
    }
    EXPECT_EQ(counter_table()[0].caption, std::string("Количство включений"));
    EXPECT_EQ(counter_caption_with_leader(17), "");
}

}  // namespace
}  // namespace zorvane
