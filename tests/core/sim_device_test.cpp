// The simulated device as a model: framing of the request stream, every reply
// checked by the tool's own acceptance rules and decoders, writes read back,
// counters, and each fault.
#include <gtest/gtest.h>

#include <cmath>

#include "link/frame.h"
#include "link/reply_catalogue.h"
#include "link/temperature.h"
#include "sim/device_defaults.h"
#include "sim/device_model.h"

namespace zorvane::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes read_request(uint8_t code) {
    return {kFrameStart, code, kFrameEnd};
}

Bytes reply_of(SimDevice& device, const Bytes& request) {
    const auto plan = device.respond(request);
    return plan ? plan->bytes : Bytes{};
}

constexpr DeviceModel kModels[] = {DeviceModel::KX24, DeviceModel::KX48, DeviceModel::QM24,
                                   DeviceModel::QM48};

TEST(SimRequestFramer, FindsFramesInANoisyStream) {
    RequestFramer framer;
    // Wake-up zeros, a frame, noise holding start bytes, an unknown code, a
    // start byte whose frame has no end byte where its code puts it, a write.
    const Bytes stream = {0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                          0,    0,    0,    0xBE, 0x41, 0xAA, 0x55, 0xBE, 0xBE, 0x01,
                          0xAA, 0xBE, 0x4E, 0x00, 0xBE, 0x4D, 0x01, 0x09, 0xAA};
    const auto frames = framer.feed(stream);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], (Bytes{0xBE, 0x41, 0xAA}));
    EXPECT_EQ(frames[1], (Bytes{0xBE, 0x4D, 0x01, 0x09, 0xAA}));
    EXPECT_EQ(framer.skipped_bytes(), stream.size() - 8);
    EXPECT_EQ(framer.pending_bytes(), 0u);

    // A frame that arrives a byte at a time is found once it is whole.
    const Bytes write = {0xBE, 0x61, 0x0A, 0xAA};
    for (size_t i = 0; i + 1 < write.size(); ++i) {
        EXPECT_TRUE(framer.feed(std::span(&write[i], 1)).empty());
    }
    const auto last = framer.feed(std::span(&write[3], 1));
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0], write);

    // A frame cut short and never finished is forgotten when asked.
    EXPECT_TRUE(framer.feed(Bytes{0xBE, 0x4D, 0x01}).empty());
    framer.drop_partial();
    EXPECT_EQ(framer.feed(Bytes{0x09, 0xAA}).size(), 0u);
}

TEST(SimRequestFramer, RequestLengthsFollowTheCatalogue) {
    // Reads and actions are three bytes; a write is its read code minus one,
    // as wide as the read's value.
    for (const ReplyEntry& entry : reply_catalogue()) {
        EXPECT_EQ(request_length(entry.code), 3) << std::hex << int(entry.code);
    }
    for (uint8_t code : {0x4A, 0x53, 0x45, 0x56, 0x48, 0x49}) {
        EXPECT_EQ(request_length(code), 3);
    }
    struct Write {
        uint8_t code;
        int length;
        uint8_t sets;
    };
    for (const Write w :
         {Write{0x3F, 5, 0x40}, Write{0x4B, 5, 0x4C}, Write{0x4D, 5, 0x4E}, Write{0x51, 5, 0x52},
          Write{0x5F, 5, 0x60}, Write{0x61, 4, 0x62}, Write{0x67, 5, 0x68}, Write{0x6B, 4, 0x6C},
          Write{0x6D, 4, 0x6E}, Write{0x73, 4, 0x74}, Write{0x75, 5, 0x76}}) {
        EXPECT_EQ(request_length(w.code), w.length) << std::hex << int(w.code);
        EXPECT_EQ(written_read_code(w.code), w.sets) << std::hex << int(w.code);
    }
    // Read-only values have no write code: 0x76 stays the read of EGenWork
    // and 0x40 the read of UbatMinOn, not writes of 0x77 and 0x41.
    EXPECT_EQ(written_read_code(0x76), 0);
    EXPECT_EQ(written_read_code(0x40), 0);
    EXPECT_EQ(written_read_code(0x45), 0);
    EXPECT_EQ(request_length(0x00), 0);
    EXPECT_EQ(request_length(0xC1), 0);
}

TEST(SimDevice, EveryReadIsAcceptedAndDecodedByTheTool) {
    for (DeviceModel model : kModels) {
        SCOPED_TRACE(model_name(model));
        SimDevice device(DeviceConfig{.model = model, .serial = "12345", .battery = {}});
        DeviceState state;
        for (const ReplyEntry& entry : reply_catalogue()) {
            const Bytes reply = reply_of(device, read_request(entry.code));
            ASSERT_EQ(reply.size(), static_cast<size_t>(entry.length))
                << std::hex << int(entry.code);
            ASSERT_TRUE(reply_valid(reply.data(), static_cast<int>(reply.size()), entry.code,
                                    entry.length));
            decode_reply(entry, reply.data(), state);
        }
        const bool volts48 = model == DeviceModel::KX48 || model == DeviceModel::QM48;
        EXPECT_FLOAT_EQ(state.out_voltage.load(), 230.0f);
        EXPECT_FLOAT_EQ(state.bat_voltage.load(), volts48 ? 52.8f : 26.4f);
        EXPECT_FLOAT_EQ(state.set_rfloat_time.load(), 7.0f);
        EXPECT_FLOAT_EQ(state.bat_temperature.load(), 25.0f);
        for (int i = 0; i < 8; ++i) {
            EXPECT_NEAR(state.temperatures[i].load(), find_variable("temperatures")->sim_each[i],
                        0.2);
        }
        EXPECT_NEAR(state.case_temperature.load(), 32.0, 0.2);

        // Status in the family's form, with generation on.
        const Bytes status = reply_of(device, read_request(cmd::kStatus));
        ASSERT_TRUE(status_reply_valid(status.data(), static_cast<int>(status.size())));
        EXPECT_EQ(status.size(), is_qm(model) ? 6u : 5u);
        EXPECT_EQ(status[2] & 0x04, 0x04);

        const Bytes counters = reply_of(device, read_request(cmd::kCounters));
        EXPECT_EQ(counters.size(), is_qm(model) ? 47u : 45u);

        const Bytes battery = reply_of(device, read_request(cmd::kBatteryProbe));
        ASSERT_TRUE(battery_reply_valid(battery.data(), static_cast<int>(battery.size())));
        EXPECT_FLOAT_EQ(decode_battery_voltage(battery.data()), volts48 ? 52.8f : 26.4f);

        const Bytes serial = reply_of(device, read_request(cmd::kSerialNumber));
        ASSERT_TRUE(serial_reply_valid(serial.data(), static_cast<int>(serial.size())));
        EXPECT_EQ(decode_serial_number(serial.data()), "12345");
    }
}

TEST(SimDevice, SerialNumberAndBatteryAsConfigured) {
    SimDevice none(DeviceConfig{.model = DeviceModel::KX24, .serial = {}, .battery = 300});
    const Bytes serial = reply_of(none, read_request(cmd::kSerialNumber));
    ASSERT_TRUE(serial_reply_valid(serial.data(), static_cast<int>(serial.size())));
    EXPECT_EQ(serial[2], 0xFF);
    EXPECT_EQ(decode_serial_number(serial.data()), kSerialNotAssigned);
    const Bytes battery = reply_of(none, read_request(cmd::kBatteryProbe));
    EXPECT_EQ(battery, (Bytes{0xBE, 0xC5, 0x01, 0x2C, 0xAA}));  // 30.0 V

    // Ten characters fill the field with no terminating zero; more are cut.
    SimDevice ten(
        DeviceConfig{.model = DeviceModel::QM24, .serial = "ABCDEFGHIJKL", .battery = {}});
    const Bytes full = reply_of(ten, read_request(cmd::kSerialNumber));
    ASSERT_EQ(full.size(), 13u);
    EXPECT_EQ(decode_serial_number(full.data()), "ABCDEFGHIJ");
    EXPECT_EQ(full[12], kFrameEnd);
}

TEST(SimDevice, WritesAreStoredAndReadBack) {
    SimDevice device(DeviceConfig{.model = DeviceModel::QM48, .serial = {}, .battery = {}});
    uint8_t frame[5];
    int checked = 0;
    for (const ReplyEntry& entry : reply_catalogue()) {
        const uint8_t write_code = static_cast<uint8_t>(entry.code - 1);
        if (written_read_code(write_code) != entry.code) {
            continue;
        }
        const bool one_byte = entry.length == 4;
        const uint16_t value = one_byte ? 0xA5 : static_cast<uint16_t>(0x1100 + entry.code);
        const int n = one_byte ? build_request_u8(frame, write_code, static_cast<uint8_t>(value))
                               : build_request_u16(frame, write_code, value);
        const Bytes ack = reply_of(device, Bytes(frame, frame + n));
        EXPECT_EQ(ack.size(), static_cast<size_t>(n));
        const Bytes reply = reply_of(device, read_request(entry.code));
        ASSERT_EQ(reply.size(), static_cast<size_t>(entry.length));
        EXPECT_EQ(one_byte ? reply[2] : word_at(reply.data(), 2), value)
            << std::hex << int(entry.code);
        ++checked;
    }
    EXPECT_EQ(checked, 21);  // every setting of the write table

    // The frame of the typical edit, recorded as received.
    device.clear_log();
    reply_of(device, Bytes{0xBE, 0x4D, 0x01, 0x09, 0xAA});
    ASSERT_EQ(device.received().size(), 1u);
    EXPECT_EQ(device.received()[0], (Bytes{0xBE, 0x4D, 0x01, 0x09, 0xAA}));
    EXPECT_EQ(device.value(0x4E), 265);
}

TEST(SimDevice, GenerationSwitchesOnStatusBitAndOutput) {
    SimDevice device(DeviceConfig{.model = DeviceModel::KX24, .serial = {}, .battery = {}});
    const double switch_ons = device.counter(0);

    EXPECT_EQ(reply_of(device, read_request(cmd::kGenerationOff)), (Bytes{0xBE, 0xC9, 0xAA}));
    EXPECT_FALSE(device.generating());
    Bytes status = reply_of(device, read_request(cmd::kStatus));
    EXPECT_EQ(status[2] & 0x04, 0);
    // No output while off; the battery is still measured.
    Bytes readings = reply_of(device, read_request(0x41));
    EXPECT_EQ(word_at(readings.data(), 2), 0);
    EXPECT_EQ(word_at(readings.data(), 6), 0);
    EXPECT_EQ(word_at(readings.data(), 8), 264);

    reply_of(device, read_request(cmd::kGenerationOn));
    reply_of(device, read_request(cmd::kGenerationOn));  // already on: not a new switch-on
    status = reply_of(device, read_request(cmd::kStatus));
    EXPECT_EQ(status[2] & 0x04, 0x04);
    EXPECT_EQ(device.counter(0), switch_ons + 1);
    readings = reply_of(device, read_request(0x41));
    EXPECT_EQ(word_at(readings.data(), 2), 2300);
}

TEST(SimDevice, CountersRoundTripThroughTheToolsDecoder) {
    CounterValues values{};
    for (int k = 0; k < kCounterCount; ++k) {
        values[k] = 1000 * k + 7;
    }
    values[1] = 0x7A0B0C0D;  // every byte of a 32-bit field different
    values[10] = 3;          // summed slots: up to 255 + 255
    values[11] = 300;
    values[12] = 510;
    values[16] = 255;
    for (int k = 13; k <= 15; ++k) {
        values[k] = k;
    }
    const Bytes qm = encode_counters(values, kCountersQmLength);
    ASSERT_EQ(qm.size(), 47u);
    EXPECT_EQ(qm[0], 0xBE);
    EXPECT_EQ(qm[46], 0xAA);
    EXPECT_EQ(decode_counters(qm.data(), 47), values);

    const Bytes kx = encode_counters(values, kCountersKxLength);
    ASSERT_EQ(kx.size(), 45u);
    EXPECT_EQ(kx[44], 0xAA);
    CounterValues without_last = values;
    without_last[16] = 0;
    EXPECT_EQ(decode_counters(kx.data(), 45), without_last);

    // Time adds to the operating times and the energy while generating.
    SimDevice device(DeviceConfig{.model = DeviceModel::QM24, .serial = {}, .battery = {}});
    device.set_value(0x41, 3600, 2);  // 3600 VA: above the 3000 VA mark
    const CounterValues before = device.counters();
    device.advance(10.0);
    CounterValues after = device.counters();
    EXPECT_EQ(after[1] - before[1], 10);
    EXPECT_EQ(after[2] - before[2], 10);
    EXPECT_EQ(after[3] - before[3], 10);
    EXPECT_EQ(after[5] - before[5], 10);  // 3600 VA for 10 s
    reply_of(device, read_request(cmd::kGenerationOff));
    device.advance(5.0);
    const CounterValues off = device.counters();
    EXPECT_EQ(off[1] - after[1], 5);
    EXPECT_EQ(off[2], after[2]);
    EXPECT_EQ(off[5], after[5]);
    // What the device sends is what it counts.
    const Bytes reply = reply_of(device, read_request(cmd::kCounters));
    EXPECT_EQ(decode_counters(reply.data(), 47), off);
}

TEST(SimDevice, SilenceCountsAndCodeFilters) {
    SimDevice device(DeviceConfig{.model = DeviceModel::KX24, .serial = {}, .battery = {}});
    // Answers 0x41 only at the fourth attempt; other codes are unaffected.
    device.faults().add(fault::answer_at_attempt(0x41, 4));
    for (int attempt = 1; attempt <= 3; ++attempt) {
        EXPECT_FALSE(device.respond(read_request(0x41))) << attempt;
        EXPECT_TRUE(device.respond(read_request(0x40)));
    }
    EXPECT_TRUE(device.respond(read_request(0x41)));
    EXPECT_TRUE(device.faults().empty());

    // A dropped reply hits whatever comes next, once.
    device.faults().add(fault::drop_next_reply());
    EXPECT_FALSE(device.respond(read_request(0x52)));
    EXPECT_TRUE(device.respond(read_request(0x52)));

    // A silent write still takes effect.
    device.faults().add(fault::silence());
    EXPECT_FALSE(device.respond(Bytes{0xBE, 0x51, 0x0B, 0xB8, 0xAA}));
    EXPECT_EQ(device.value(0x52), 3000);
    device.faults().clear();
    EXPECT_TRUE(device.respond(read_request(0x52)));

    // Every frame is recorded, answered or not; the stream's bytes are counted.
    device.clear_log();
    const Bytes stream = {0, 0, 0xBE, 0x41, 0xAA, 0xBE, 0x12, 0xAA};
    EXPECT_EQ(device.receive(stream).size(), 1u);
    EXPECT_EQ(device.received().size(), 1u);
    EXPECT_EQ(device.received_bytes(), stream.size());
}

TEST(SimDevice, LineFaultsShapeTheReply) {
    SimDevice device(DeviceConfig{.model = DeviceModel::QM48, .serial = "7", .battery = {}});
    const Bytes good = reply_of(device, read_request(0x41));

    device.faults().add(fault::garbage(0x41, 1));
    const Bytes garbage = reply_of(device, read_request(0x41));
    EXPECT_EQ(garbage.size(), good.size());
    EXPECT_FALSE(reply_valid(garbage.data(), static_cast<int>(garbage.size()), 0x41, 11));
    EXPECT_EQ(std::count(garbage.begin(), garbage.end(), kFrameEnd), 0);

    device.faults().add(fault::truncate(cmd::kSerialNumber, 12, 1));
    const Bytes short_serial = reply_of(device, read_request(cmd::kSerialNumber));
    EXPECT_EQ(short_serial.size(), 12u);
    EXPECT_FALSE(serial_reply_valid(short_serial.data(), 12));

    device.faults().add(fault::split(0x56, 8, Micros{20000}, 1));
    auto plan = device.respond(read_request(0x56));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->bytes.size(), 13u);
    EXPECT_EQ(plan->first_burst, 8u);
    EXPECT_EQ(plan->gap, Micros{20000});

    device.faults().add(fault::extra_bytes(0x41, {0x01, 0x02}, 1));
    const Bytes extra = reply_of(device, read_request(0x41));
    ASSERT_EQ(extra.size(), 13u);
    EXPECT_TRUE(std::equal(good.begin(), good.end(), extra.begin()));
    EXPECT_TRUE(reply_valid(extra.data(), 13, 0x41, 11));  // surplus bytes are ignored

    device.faults().add(fault::late(0x41, Micros{700000}));
    plan = device.respond(read_request(0x41));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->delay, Micros{700000});
    EXPECT_EQ(plan->bytes, good);

    // The form faults hit only their own command, whatever comes between.
    device.faults().add(fault::other_status_form(1));
    device.faults().add(fault::other_counters_length(1));
    EXPECT_EQ(reply_of(device, read_request(0x41)), good);
    EXPECT_EQ(reply_of(device, read_request(cmd::kStatus)).size(), 5u);
    EXPECT_EQ(reply_of(device, read_request(cmd::kStatus)).size(), 6u);
    EXPECT_EQ(reply_of(device, read_request(cmd::kCounters)).size(), 45u);
    EXPECT_EQ(reply_of(device, read_request(cmd::kCounters)).size(), 47u);

    // Nonsense to writes and actions only; the write is still stored.
    device.faults().add(fault::write_nonsense());
    EXPECT_EQ(reply_of(device, read_request(0x4C)).size(), 5u);
    const Bytes nonsense = reply_of(device, Bytes{0xBE, 0x4B, 0x08, 0xFC, 0xAA});
    EXPECT_FALSE(nonsense.empty());
    EXPECT_NE(nonsense[0], kFrameStart);
    EXPECT_EQ(device.value(0x4C), 0x08FC);
    EXPECT_NE(reply_of(device, read_request(cmd::kGenerationOff))[0], kFrameStart);
    device.faults().clear();

    device.faults().add(fault::hang_up(0x4A));
    EXPECT_FALSE(device.respond(read_request(0x41))->hang_up);
    plan = device.respond(read_request(cmd::kStatus));
    ASSERT_TRUE(plan);
    EXPECT_TRUE(plan->hang_up);
    EXPECT_TRUE(plan->bytes.empty());
}

TEST(SimDevice, ModelNamesAndDemoHelpers) {
    for (DeviceModel model : kModels) {
        EXPECT_EQ(parse_model(model_name(model)), model);
    }
    EXPECT_FALSE(parse_model("KX-36"));
    EXPECT_FALSE(parse_model("kx-24"));
    // The raw readings we put out turn into the temperatures we meant.
    for (double celsius : {0.0, 25.0, 37.5, 60.0}) {
        EXPECT_NEAR(ntc_temperature(thermistor_raw(celsius)), celsius, 0.1);
        EXPECT_NEAR(case_sensor_temperature(case_sensor_raw(celsius)), celsius, 0.25);
    }
    // Live readings stay close to their values.
    SimDevice device(DeviceConfig{.model = DeviceModel::KX48, .serial = {}, .battery = {}});
    device.set_live(true);
    for (int i = 0; i < 50; ++i) {
        device.advance(1.7);
        const Bytes r = reply_of(device, read_request(0x41));
        EXPECT_NEAR(word_at(r.data(), 2), 2300, 5);
        EXPECT_NEAR(word_at(r.data(), 8), 528, 2);
    }
}

}  // namespace
}  // namespace zorvane::sim
