// Acceptance rules and decoders on captured-style frames: each fixture is a
// good reply, then mutations of it that must be rejected for a named reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/reply_catalogue.h"

namespace zorvane {
namespace {

using Bytes = std::vector<uint8_t>;

// > BE 41 AA
// < BE C1 08 FC 00 FA 04 B0 01 09 AA     230.0 V, 2.50 A, 1200 VA, 26.5 V
//   0  1  2  3  4  5  6  7  8  9  10
const Bytes kReadings = {0xBE, 0xC1, 0x08, 0xFC, 0x00, 0xFA, 0x04, 0xB0, 0x01, 0x09, 0xAA};

TEST(ReplyValid, GeneralRuleAndItsMutations) {
    EXPECT_TRUE(reply_valid(kReadings.data(), 11, 0x41, 11));

    Bytes longer = kReadings;
    longer.push_back(0x77);
    EXPECT_TRUE(reply_valid(longer.data(), 12, 0x41, 11)) << "surplus bytes are ignored";

    struct Mutation {
        const char* reason;
        int offset;
        uint8_t value;
        int count;
    };
    const Mutation mutations[] = {
        {"one byte short", -1, 0, 10},
        {"nothing received", -1, 0, 0},
        {"port not open", -1, 0, -1},
        {"wrong start byte", 0, 0xBF, 11},
        {"code echoed without bit 7", 1, 0x41, 11},
        {"answer to another command", 1, 0xC6, 11},
        {"wrong end byte", 10, 0xAB, 11},
    };
    for (const Mutation& m : mutations) {
        Bytes reply = kReadings;
        if (m.offset >= 0) {
            reply[static_cast<size_t>(m.offset)] = m.value;
        }
        EXPECT_FALSE(reply_valid(reply.data(), m.count, 0x41, 11)) << m.reason;
    }

    // > BE 4C AA   < BE CC 00 E6 AA   (23.0 V); with bit 7 clear it is no reply.
    const Bytes uout = {0xBE, 0xCC, 0x00, 0xE6, 0xAA};
    const Bytes uout_plain = {0xBE, 0x4C, 0x00, 0xE6, 0xAA};
    EXPECT_TRUE(reply_valid(uout.data(), 5, 0x4C, 5));
    EXPECT_FALSE(reply_valid(uout_plain.data(), 5, 0x4C, 5));

    DeviceState state;
    const ReplyEntry* readings = find_reply(0x41);
    ASSERT_NE(readings, nullptr);
    EXPECT_EQ(readings->length, 11);
    readings->decode(*readings, longer.data(), state);
    EXPECT_FLOAT_EQ(state.out_voltage.load(), 230.0f);
    EXPECT_FLOAT_EQ(state.out_current.load(), 2.5f);
    EXPECT_FLOAT_EQ(state.out_power.load(), 1200.0f);
    EXPECT_FLOAT_EQ(state.bat_voltage.load(), 26.5f);
}

TEST(ReplyCatalogue, EveryRowFillsItsOwnFieldWithItsOwnScale) {
    // Each one-word or one-byte row must write its field and no other: a
    // row pointing at its neighbour's field would show one setting twice.
    std::set<uint8_t> codes;
    std::vector<FloatField> fields;
    for (const ReplyEntry& row : reply_catalogue()) {
        EXPECT_TRUE(codes.insert(row.code).second) << "code listed twice: " << int(row.code);
        if (row.field == nullptr) {
            continue;
        }
        EXPECT_EQ(std::find(fields.begin(), fields.end(), row.field), fields.end())
            << "field filled twice, code " << int(row.code);
        fields.push_back(row.field);
        const bool one_byte = row.decode == decode_byte;
        EXPECT_EQ(row.length, one_byte ? 4 : 5) << int(row.code);

        DeviceState state;
        // > BE cc AA   < BE cc|80 05 A0 AA (1440)   or   < BE cc|80 A0 AA (160)
        const Bytes reply = one_byte ? Bytes{0xBE, uint8_t(row.code | 0x80), 0xA0, 0xAA}
                                     : Bytes{0xBE, uint8_t(row.code | 0x80), 0x05, 0xA0, 0xAA};
        ASSERT_TRUE(reply_valid(reply.data(), row.length, row.code, row.length));
        row.decode(row, reply.data(), state);
        const float expected = one_byte ? 160.0f : static_cast<float>(1440.0 / row.divisor);
        EXPECT_FLOAT_EQ((state.*row.field).load(), expected) << int(row.code);
        for (const ReplyEntry& other : reply_catalogue()) {
            if (other.field != nullptr && other.field != row.field) {
                EXPECT_EQ((state.*other.field).load(), 0.0f)
                    << int(row.code) << " also wrote the field of " << int(other.code);
            }
        }
    }
    EXPECT_EQ(find_reply(0x4A), nullptr) << "status has its own rule";
    EXPECT_EQ(find_reply(0x53), nullptr) << "counters have their own rule";
}

TEST(StatusReply, FormsAreToldApartByCountAndStoredInTheirOwnArrays) {
    // < BE CA s1 s2 AA          (KX)      < BE CA s1 s2 s3 AA       (QM)
    //   0  1  2  3  4                       0  1  2  3  4  5
    const Bytes kx = {0xBE, 0xCA, 0x85, 0x18, 0xAA};
    const Bytes qm = {0xBE, 0xCA, 0xC4, 0xE0, 0x01, 0xAA};
    EXPECT_TRUE(status_reply_valid(kx.data(), 5));
    EXPECT_TRUE(status_reply_valid(qm.data(), 6));

    Bytes seven = qm;
    seven.insert(seven.begin() + 5, 0x00);
    EXPECT_FALSE(status_reply_valid(seven.data(), 7)) << "7 bytes, whatever they hold";
    EXPECT_FALSE(status_reply_valid(qm.data(), 5)) << "the 6-byte form cut short";
    EXPECT_FALSE(status_reply_valid(kx.data(), 4));
    Bytes bad_code = kx;
    bad_code[1] = 0x4A;
    EXPECT_FALSE(status_reply_valid(bad_code.data(), 5));
    Bytes bad_start = qm;
    bad_start[0] = 0x00;
    EXPECT_FALSE(status_reply_valid(bad_start.data(), 6));
    const Bytes end_at_4 = {0xBE, 0xCA, 0x00, 0x00, 0xAA, 0x00};
    EXPECT_FALSE(status_reply_valid(end_at_4.data(), 6)) << "end byte of the wrong form";

    DeviceState state;
    store_status(state, kx.data(), 5);
    const int kx1[8] = {1, 0, 1, 0, 0, 0, 0, 1};  // 0x85
    const int kx2[8] = {0, 0, 0, 1, 1, 0, 0, 0};  // 0x18: overload, battery low
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(state.kx_status1[i].load(), kx1[i]) << i;
        EXPECT_EQ(state.kx_status2[i].load(), kx2[i]) << i;
        EXPECT_EQ(state.qm_status1[i].load(), 0) << i;
    }
    // The other form fills the QM arrays and leaves the KX ones as they were.
    store_status(state, qm.data(), 6);
    const int qm1[8] = {0, 0, 1, 0, 0, 0, 1, 1};  // 0xC4
    const int qm2[8] = {0, 0, 0, 0, 0, 1, 1, 1};  // 0xE0
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(state.qm_status1[i].load(), qm1[i]) << i;
        EXPECT_EQ(state.qm_status2[i].load(), qm2[i]) << i;
        EXPECT_EQ(state.qm_status3[i].load(), i == 0 ? 1 : 0) << i;
        EXPECT_EQ(state.kx_status1[i].load(), kx1[i]) << i;
    }
}

// A counters reply of `length` bytes with a recognisable value in each slot.
//   0 BE | 1 D3 | 2-3 c0 | 4-7 c1 … 20-23 c5 | 24-25 c6 … 30-31 c9
//   32-33 c10 … 42-43 c15 | [44-45 c16] | AA
Bytes counters_reply(int length) {
    Bytes r(static_cast<size_t>(length), 0);
    r[0] = 0xBE;
    r[1] = 0xD3;
    r[2] = 0x01;  // c0 = 0x0102 = 258
    r[3] = 0x02;
    r[4] = 0x00;  // c1 = 0x0001E240 = 123456
    r[5] = 0x01;
    r[6] = 0xE2;
    r[7] = 0x40;
    r[20] = 0xFF;  // c5 = 0xFFFFFFFE: kept as its 32 bits
    r[21] = 0xFF;
    r[22] = 0xFF;
    r[23] = 0xFE;
    r[24] = 0x01;  // c6 = 258
    r[25] = 0x02;
    r[32] = 0x01;  // c10 = 1 + 2 = 3
    r[33] = 0x02;
    r[42] = 0xFF;  // c15 = 255 + 255 = 510
    r[43] = 0xFF;
    if (length == kCountersQmLength) {
        r[44] = 0x10;  // c16 = 16 + 1 = 17
        r[45] = 0x01;
    }
    r[static_cast<size_t>(length) - 1] = 0xAA;
    return r;
}

TEST(CountersReply, LengthIsTheOnlyCheckAndSlotsDecodeByTheirWidth) {
    EXPECT_TRUE(counters_reply_valid(45, kCountersKxLength));
    EXPECT_TRUE(counters_reply_valid(47, kCountersQmLength));
    EXPECT_FALSE(counters_reply_valid(46, kCountersKxLength));
    EXPECT_FALSE(counters_reply_valid(46, kCountersQmLength));
    EXPECT_FALSE(counters_reply_valid(47, kCountersKxLength));
    EXPECT_FALSE(counters_reply_valid(45, kCountersQmLength));
    EXPECT_FALSE(counters_reply_valid(0, kCountersKxLength));

    Bytes kx = counters_reply(45);
    kx[0] = 0x00;  // a wrong start byte is not looked at
    const CounterValues c = decode_counters(kx.data(), 45);
    EXPECT_EQ(c[0], 258);
    EXPECT_EQ(c[1], 123456);
    EXPECT_EQ(static_cast<uint32_t>(c[5]), 0xFFFFFFFEu);
    EXPECT_EQ(c[6], 258);
    EXPECT_EQ(c[10], 3);
    EXPECT_EQ(c[15], 510);
    EXPECT_EQ(c[16], 0) << "the KX form carries no counter 16";
    EXPECT_EQ(c[2], 0);
    EXPECT_EQ(c[9], 0);

    const CounterValues q = decode_counters(counters_reply(47).data(), 47);
    EXPECT_EQ(q[15], 510);
    EXPECT_EQ(q[16], 17);
}

Bytes serial(std::initializer_list<uint8_t> digits) {
    Bytes r(13, 0);
    r[0] = 0xBE;
    r[1] = 0xD6;
    std::copy(digits.begin(), digits.end(), r.begin() + 2);
    r[12] = 0xAA;
    return r;
}

TEST(DiscoveryReplies, SerialNumberAndBatteryVoltage) {
    // < BE D6 '1' '2' '3' '4' '5' 00 00 00 00 00 AA
    //   0  1  2   3   4   5   6   7  8  9  10 11 12
    const Bytes five = serial({'1', '2', '3', '4', '5'});
    EXPECT_TRUE(serial_reply_valid(five.data(), 13));
    EXPECT_EQ(decode_serial_number(five.data()), "12345");

    const Bytes ten = serial({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'});
    EXPECT_EQ(decode_serial_number(ten.data()), "ABCDEFGHIJ") << "all ten, never the end byte";

    const Bytes none = serial({0xFF, '9', '9', 0x00, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36});
    EXPECT_EQ(decode_serial_number(none.data()), "не назначен");

    const Bytes stops = serial({'7', 0x00, '8'});
    EXPECT_EQ(decode_serial_number(stops.data()), "7") << "text ends at the first zero";
    EXPECT_EQ(decode_serial_number(serial({}).data()), "");

    const Bytes cyrillic = serial({0xC0, 0xDF, 0xE0, 0xFE, 0xA8});  // А Я а ю Ё
    EXPECT_EQ(decode_serial_number(cyrillic.data()), "АЯаюЁ");

    EXPECT_FALSE(serial_reply_valid(five.data(), 12)) << "exactly 13, not fewer";
    Bytes fourteen = five;
    fourteen.push_back(0xAA);
    EXPECT_FALSE(serial_reply_valid(fourteen.data(), 14)) << "exactly 13, not more";
    Bytes wrong_code = five;
    wrong_code[1] = 0x56;
    EXPECT_FALSE(serial_reply_valid(wrong_code.data(), 13));
    Bytes wrong_end = five;
    wrong_end[12] = 0x00;
    EXPECT_FALSE(serial_reply_valid(wrong_end.data(), 13));

    // < BE C5 01 2C AA   300 = 30.0 V, the highest 24 V battery
    const Bytes battery = {0xBE, 0xC5, 0x01, 0x2C, 0xAA, 0x00};
    EXPECT_TRUE(battery_reply_valid(battery.data(), 5));
    EXPECT_TRUE(battery_reply_valid(battery.data(), 6)) << "at least five bytes";
    EXPECT_FALSE(battery_reply_valid(battery.data(), 4));
    EXPECT_EQ(decode_battery_voltage(battery.data()), 30.0f);
    const Bytes above = {0xBE, 0xC5, 0x01, 0x2D, 0xAA};
    EXPECT_GT(decode_battery_voltage(above.data()), 30.0f);
    const Bytes garbage = {0xBE, 0x45, 0x01, 0x2C, 0xAA};
    EXPECT_FALSE(battery_reply_valid(garbage.data(), 5));
}

TEST(RequestBuilders, FramesOfThreeFourAndFiveBytes) {
    uint8_t out[6] = {0, 0, 0, 0, 0, 0x77};
    EXPECT_EQ(build_request(out, 0x4A), 3);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0xBE, 0x4A, 0xAA}));
    EXPECT_EQ(build_request_u8(out, 0x6D, 1), 4);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xBE, 0x6D, 0x01, 0xAA}));
    EXPECT_EQ(build_request_u16(out, 0x4D, 265), 5);
    EXPECT_EQ(Bytes(out, out + 5), (Bytes{0xBE, 0x4D, 0x01, 0x09, 0xAA}));
    EXPECT_EQ(out[5], 0x77);
}

}  // namespace
}  // namespace zorvane
