// Acceptance rules and decoders: a good frame per reply kind, then mutations
// that must be rejected for a named reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/frame.h"
#include "link/reply_catalogue.h"

namespace zorvane {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ReplyValid, GeneralRuleAndItsMutations) {
    // < BE C1 08 FC 00 FA 04 B0 01 09 AA 77   230.0 V, 2.50 A, 1200 VA, 26.5 V
    //   0  1  2  3  4  5  6  7  8  9  10 11   byte 11 is surplus and ignored
    const Bytes good = {0xBE, 0xC1, 0x08, 0xFC, 0x00, 0xFA, 0x04, 0xB0, 0x01, 0x09, 0xAA, 0x77};
    EXPECT_TRUE(reply_valid(good.data(), 12, 0x41, 11));
    struct Mutation {
        const char* reason;
        int offset;
        uint8_t value;
        int count;
    } const mutations[] = {
        {"one byte short", 0, 0xBE, 10},     {"nothing received", 0, 0xBE, 0},
        {"port not open", 0, 0xBE, -1},      {"wrong start byte", 0, 0xBF, 11},
        {"code without bit 7", 1, 0x41, 11}, {"another command's code", 1, 0xCC, 11},
        {"wrong end byte", 10, 0xAB, 11},
    };
    for (const Mutation& m : mutations) {
        Bytes reply = good;
        reply[static_cast<size_t>(m.offset)] = m.value;
        EXPECT_FALSE(reply_valid(reply.data(), m.count, 0x41, 11)) << m.reason;
    }
    const Bytes uout_plain = {0xBE, 0x4C, 0x00, 0xE6, 0xAA};  // 0x4C echoed with bit 7 clear
    EXPECT_FALSE(reply_valid(uout_plain.data(), 5, 0x4C, 5));

    DeviceState state;
    const ReplyEntry* readings = find_reply(0x41);
    ASSERT_NE(readings, nullptr);
    decode_reply(*readings, good.data(), state);
    EXPECT_FLOAT_EQ(state.out_voltage.load(), 230.0f);
    EXPECT_FLOAT_EQ(state.out_current.load(), 2.5f);
    EXPECT_FLOAT_EQ(state.out_power.load(), 1200.0f);
    EXPECT_FLOAT_EQ(state.bat_voltage.load(), 26.5f);
}

TEST(ReplyCatalogue, EveryRowFillsItsOwnFieldWithItsOwnScale) {
    // A row pointing at a neighbour's field would show one setting twice and
    // another never.
    std::vector<FloatField> fields;
    for (const ReplyEntry& row : reply_catalogue()) {
        if (row.variables.size() != 1 || row.variables[0]->is_array() ||
            row.variables[0]->conversion != Conversion::Scaled) {
            continue;
        }
        const Variable& v = *row.variables[0];
        EXPECT_EQ(std::find(fields.begin(), fields.end(), v.field), fields.end())
            << "field filled twice, code " << int(row.code);
        fields.push_back(v.field);
        const bool one_byte = v.width == 1;
        EXPECT_EQ(row.length, one_byte ? 4 : 5) << int(row.code);

        // < BE cc|80 05 A0 AA  (1440)     or     < BE cc|80 A0 AA  (160)
        const uint8_t echo = row.code | 0x80;
        const Bytes reply =
            one_byte ? Bytes{0xBE, echo, 0xA0, 0xAA} : Bytes{0xBE, echo, 0x05, 0xA0, 0xAA};
        ASSERT_TRUE(reply_valid(reply.data(), row.length, row.code, row.length));
        DeviceState state;
        decode_reply(row, reply.data(), state);
        const float expected = one_byte ? 160.0f : static_cast<float>(1440.0 / v.scale);
        EXPECT_FLOAT_EQ((state.*v.field).load(), expected) << int(row.code);
        for (const Variable& other : variables()) {
            if (!other.is_array() && other.field != v.field) {
                EXPECT_EQ((state.*other.field).load(), 0.0f)
                    << int(row.code) << " also wrote the field of " << other.key;
            }
        }
    }
    EXPECT_EQ(fields.size(), 22u) << "every setting and the battery temperature";
}

TEST(StatusReply, FormsAreToldApartByCountAndStoredInTheirOwnArrays) {
    const Bytes kx = {0xBE, 0xCA, 0x85, 0x18, 0xAA};        // s1 s2
    const Bytes qm = {0xBE, 0xCA, 0xC4, 0xE0, 0x01, 0xAA};  // s1 s2 s3
    const Bytes seven = {0xBE, 0xCA, 0xC4, 0xE0, 0x01, 0x00, 0xAA};
    const Bytes end_of_short_form = {0xBE, 0xCA, 0x00, 0x00, 0xAA, 0x00};
    EXPECT_TRUE(status_reply_valid(kx.data(), 5));
    EXPECT_TRUE(status_reply_valid(qm.data(), 6));
    EXPECT_FALSE(status_reply_valid(seven.data(), 7)) << "7 bytes, whatever they hold";
    EXPECT_FALSE(status_reply_valid(qm.data(), 5)) << "the long form cut short";
    EXPECT_FALSE(status_reply_valid(kx.data(), 4));
    EXPECT_FALSE(status_reply_valid(end_of_short_form.data(), 6)) << "end byte of the other form";

    DeviceState state;
    store_status(state, kx.data(), 5);
    store_status(state, qm.data(), 6);  // must leave the KX arrays alone
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(state.kx_status1[i].load(), (0x85 >> i) & 1) << i;
        EXPECT_EQ(state.kx_status2[i].load(), (0x18 >> i) & 1) << i;
        EXPECT_EQ(state.qm_status1[i].load(), (0xC4 >> i) & 1) << i;
        EXPECT_EQ(state.qm_status2[i].load(), (0xE0 >> i) & 1) << i;
        EXPECT_EQ(state.qm_status3[i].load(), i == 0) << i;
    }
}

TEST(CountersReply, LengthIsTheOnlyCheckAndSlotsDecodeByTheirWidth) {
    EXPECT_FALSE(counters_reply_valid(46, kCountersKxLength));
    EXPECT_FALSE(counters_reply_valid(46, kCountersQmLength));
    EXPECT_FALSE(counters_reply_valid(47, kCountersKxLength));
    EXPECT_TRUE(counters_reply_valid(45, kCountersKxLength));

    // 0 BE | 1 D3 | 2-3 c0 | 4-7 c1 … 20-23 c5 | 24-25 c6 … 30-31 c9
    // 32-33 c10 … 42-43 c15 | [44-45 c16] | AA
    Bytes r(47, 0);
    r[0] = 0x00;  // a wrong start byte is not looked at
    const std::pair<int, uint8_t> bytes[] = {
        {2, 0x01},  {3, 0x02},                           // c0 = 258
        {4, 0x00},  {5, 0x01},  {6, 0xE2},  {7, 0x40},   // c1 = 123456
        {20, 0xFF}, {21, 0xFF}, {22, 0xFF}, {23, 0xFE},  // c5, all 32 bits
        {24, 0x01}, {25, 0x02},                          // c6 = 258
        {32, 0x01}, {33, 0x02},                          // c10 = 1 + 2
        {42, 0xFF}, {43, 0xFF},                          // c15 = 510
        {44, 0x10}, {45, 0x01},                          // c16 = 17 (QM form)
    };
    for (const auto& [offset, value] : bytes) {
        r[static_cast<size_t>(offset)] = value;
    }
    const CounterValues qm = decode_counters(r.data(), 47);
    EXPECT_EQ(qm[0], 258);
    EXPECT_EQ(qm[1], 123456);
    EXPECT_EQ(static_cast<uint32_t>(qm[5]), 0xFFFFFFFEu);
    EXPECT_EQ(qm[6], 258);
    EXPECT_EQ(qm[10], 3);
    EXPECT_EQ(qm[15], 510);
    EXPECT_EQ(qm[16], 17);
    EXPECT_EQ(qm[9], 0);
    EXPECT_EQ(decode_counters(r.data(), 45)[16], 0) << "the KX form carries no counter 16";
}

Bytes serial(std::initializer_list<uint8_t> text) {
    Bytes r(13, 0);
    r[0] = 0xBE;
    r[1] = 0xD6;
    std::copy(text.begin(), text.end(), r.begin() + 2);
    r[12] = 0xAA;
    return r;
}

TEST(DiscoveryReplies, SerialNumberAndBatteryVoltage) {
    // < BE D6 '1' '2' '3' '4' '5' 00 00 00 00 00 AA
    //   0  1  2   3   4   5   6   7  8  9  10 11 12
    const Bytes five = serial({'1', '2', '3', '4', '5'});
    EXPECT_TRUE(serial_reply_valid(five.data(), 13));
    EXPECT_EQ(decode_serial_number(five.data()), "12345");
    EXPECT_EQ(
        decode_serial_number(serial({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'}).data()),
        "ABCDEFGHIJ");
    EXPECT_EQ(
        decode_serial_number(serial({0xFF, '9', 0, '1', '2', '3', '4', '5', '6', '7'}).data()),
        "не назначен");
    EXPECT_EQ(decode_serial_number(serial({'7', 0x00, '8'}).data()), "7");
    EXPECT_EQ(decode_serial_number(serial({0xC0, 0xDF, 0xE0, 0xFE, 0xA8}).data()), "АЯаюЁ");
    Bytes fourteen = five;
    fourteen.push_back(0xAA);
    EXPECT_FALSE(serial_reply_valid(five.data(), 12)) << "exactly 13, not fewer";
    EXPECT_FALSE(serial_reply_valid(fourteen.data(), 14)) << "exactly 13, not more";

    // < BE C5 01 2C AA   300 = 30.0 V, the highest 24 V battery
    const Bytes battery = {0xBE, 0xC5, 0x01, 0x2C, 0xAA, 0x00};
    const Bytes above = {0xBE, 0xC5, 0x01, 0x2D, 0xAA};
    EXPECT_TRUE(battery_reply_valid(battery.data(), 6)) << "at least five bytes";
    EXPECT_FALSE(battery_reply_valid(battery.data(), 4));
    EXPECT_EQ(decode_battery_voltage(battery.data()), 30.0f);
    EXPECT_GT(decode_battery_voltage(above.data()), 30.0f);
}

}  // namespace
}  // namespace zorvane
