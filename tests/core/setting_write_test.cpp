#include "device/setting_write.h"

#include <gtest/gtest.h>

#include <clocale>
#include <set>

#include "device/handover.h"
#include "device/poll_cycle.h"
#include "link/frame.h"
#include "link/reply_catalogue.h"
#include "sim_line.h"

namespace zorvane {
namespace {

using Kind = SettingDecision::Kind;
using testing::SimLinePort;

std::vector<uint8_t> frame_of(const SettingDecision& d) {
    return {d.frame.begin(), d.frame.begin() + d.frame_length};
}

const SettingParam& setting(const char* name, int family) {
    const SettingParam* param = find_setting(name, family == 1 ? Family::Kx : Family::Qm);
    EXPECT_NE(param, nullptr) << name;
    return *param;
}

struct FrameCase {
    const char* name;
    int family;
    const char* text;
    float stored;
    std::vector<uint8_t> frame;
};

TEST(SettingWrite, WorkedExamplesGiveTheirFrames) {
    const FrameCase cases[] = {
        {"UbatLow", 1, "26.5 B", 24.0f, {0xBE, 0x4D, 0x01, 0x09, 0xAA}},
        {"UoutNom", 1, "230", 220.0f, {0xBE, 0x4B, 0x08, 0xFC, 0xAA}},
        {"Pmax", 1, "3000", 2500.0f, {0xBE, 0x51, 0x0B, 0xB8, 0xAA}},
        {"UbatLow", 2, "48.5", 44.0f, {0xBE, 0x4D, 0x01, 0xE5, 0xAA}},
        {"UrmsNom", 2, "230", 0.0f, {0xBE, 0x4B, 0x08, 0xFC, 0xAA}},
        {"Pmax", 2, "2500", 0.0f, {0xBE, 0x51, 0x09, 0xC4, 0xAA}},
        {"UrmslowL", 2, "170", 160.0f, {0xBE, 0x57, 0x06, 0xA4, 0xAA}},
        {"UrmshighL", 2, "250.5", 240.0f, {0xBE, 0x5D, 0x09, 0xC9, 0xAA}},
        {"RFloatTime", 2, "2", 1.0f, {0xBE, 0x67, 0x0B, 0x40, 0xAA}},
        {"RFloatTime", 2, "3.5", 1.0f, {0xBE, 0x67, 0x13, 0xB0, 0xAA}},
        {"IchrgNom", 2, "12.5", 10.0f, {0xBE, 0x5F, 0x00, 0x7D, 0xAA}},
        {"IchrgNom", 2, "12.37", 10.0f, {0xBE, 0x5F, 0x00, 0x7B, 0xAA}},
        {"AbsEndFactor", 2, "7.9", 5.0f, {0xBE, 0x61, 0x07, 0xAA}},
        {"FloatTime", 2, "30", 60.0f, {0xBE, 0x65, 0x00, 0x1E, 0xAA}},
        {"EGenPmax", 2, "3000", 0.0f, {0xBE, 0x71, 0x0B, 0xB8, 0xAA}},
        {"EGenPmax", 2, "2999.99", 0.0f, {0xBE, 0x71, 0x0B, 0xB7, 0xAA}},
        {"EGenSleep", 2, "7", 0.0f, {0xBE, 0x73, 0x07, 0xAA}},
        {"EGenSleep", 2, "7.9", 0.0f, {0xBE, 0x73, 0x07, 0xAA}},
        {"EGenOnTime", 2, "30", 0.0f, {0xBE, 0x6F, 0x00, 0x1E, 0xAA}},
        {"EGenType", 2, "2", 0.0f, {0xBE, 0x6B, 0x02, 0xAA}},
        // Truncation, not rounding; a unit is ignored; only the first nine
        // characters are read.
        {"UbatLow", 1, "26.57", 0.0f, {0xBE, 0x4D, 0x01, 0x09, 0xAA}},
        {"IchrgNom", 2, "12.5 B", 0.0f, {0xBE, 0x5F, 0x00, 0x7D, 0xAA}},
        {"Pmax", 1, "0000000012", 0.0f, {0xBE, 0x51, 0x00, 0x01, 0xAA}},
        {"Pmax", 1, "  +17BA", 0.0f, {0xBE, 0x51, 0x00, 0x11, 0xAA}},
        {"Pmax", 1, "1.5e3", 0.0f, {0xBE, 0x51, 0x05, 0xDC, 0xAA}},
        // The exact comparison: 23.1 in double is not the stored float 23.1.
        {"UbatLow", 1, "23.1", 23.1f, {0xBE, 0x4D, 0x00, 0xE7, 0xAA}},
        {"IchrgNom", 2, "12.3 A", 12.3f, {0xBE, 0x5F, 0x00, 0x7B, 0xAA}},
        // The ends of the payloads are accepted.
        {"Pmax", 1, "65535", 0.0f, {0xBE, 0x51, 0xFF, 0xFF, 0xAA}},
        {"UbatLow", 1, "6553.59", 0.0f, {0xBE, 0x4D, 0xFF, 0xFF, 0xAA}},
        {"AbsEndFactor", 2, "255", 0.0f, {0xBE, 0x61, 0xFF, 0xAA}},
        {"RFloatTime", 2, "45.5", 0.0f, {0xBE, 0x67, 0xFF, 0xF0, 0xAA}},
    };
    for (const FrameCase& c : cases) {
        const SettingDecision d = decide_setting_write(setting(c.name, c.family), c.text, c.stored);
        EXPECT_EQ(d.kind, Kind::Send) << c.name << " " << c.text;
        EXPECT_EQ(frame_of(d), c.frame) << c.name << " " << c.text;
    }
}

TEST(SettingWrite, UnchangedValuesAndEmptyTextSendNothing) {
    struct Case {
        const char* name;
        int family;
        const char* text;
        float stored;
    };
    const Case cases[] = {
        {"Pmax", 1, "3000 BA", 3000.0f},
        {"UbatLow", 1, "26.5 B", 26.5f},
        {"EGenWork", 2, "0 c.", 0.0f},
        {"AbsEndFactor", 2, "7 ", 7.0f},
        // Ten characters: the tenth is never read.
        {"UbatLow", 1, "26.50000001", 26.5f},
        // Nothing typed is no number to write: the field shows the device's
        // value again at the next refresh.
        {"UbatLow", 1, "", 24.0f},
        {"UbatLow", 1, "   ", 24.0f},
        // RFloatTime shows whole days of a value kept in minutes: its shown
        // text, left as it is, does not rewrite 2000 minutes as 1440.
        {"RFloatTime", 2, "1 сут.", 2000.0f / 1440.0f},
        {"RFloatTime", 2, "10 сут.", 14976.0f / 1440.0f},
        {"RFloatTime", 2, "2 сут.", 2.0f},
        // Half days are shown rounded away from zero, and that text is theirs.
        {"RFloatTime", 2, "3 сут.", 3600.0f / 1440.0f},
        {"RFloatTime", 2, "1 сут.", 720.0f / 1440.0f},
    };
    for (const Case& c : cases) {
        const SettingDecision d = decide_setting_write(setting(c.name, c.family), c.text, c.stored);
        EXPECT_EQ(d.kind, Kind::Unchanged) << c.name << " '" << c.text << "'";
        EXPECT_EQ(d.frame_length, 0) << c.name << " '" << c.text << "'";
    }

    // Typing the number of days is a choice, and it is written.
    const SettingParam& rfloat = setting("RFloatTime", 2);
    EXPECT_EQ(frame_of(decide_setting_write(rfloat, "1", 2000.0f / 1440.0f)),
              (std::vector<uint8_t>{0xBE, 0x67, 0x05, 0xA0, 0xAA}));
    EXPECT_EQ(frame_of(decide_setting_write(rfloat, "1 сут.", 2.0f)),
              (std::vector<uint8_t>{0xBE, 0x67, 0x05, 0xA0, 0xAA}));
    EXPECT_EQ(frame_of(decide_setting_write(rfloat, "3", 3600.0f / 1440.0f)),
              (std::vector<uint8_t>{0xBE, 0x67, 0x10, 0xE0, 0xAA}));
    // The shown text comes from the function the field is filled with.
    EXPECT_EQ(whole_shown_text(rfloat, 3600.0f / 1440.0f), "3 сут.");
    EXPECT_EQ(whole_shown_text(rfloat, 720.0f / 1440.0f), "1 сут.");
    EXPECT_EQ(whole_shown_text(rfloat, 1439.0f / 1440.0f * 2.0f), "2 сут.");
}

// Numbers as a Russian technician types them: a decimal comma, digit groups
// split by blanks; no reading is guessed where two separators disagree.
TEST(SettingWrite, DigitGroupsAndDecimalCommas) {
    struct Case {
        const char* name;
        const char* text;
        int wire;  // -1: refused
    };
    const Case cases[] = {
        {"UbatLow", "26,5", 265},     {"UbatLow", "26,5 B", 265},
        {"Pmax", "3 000", 3000},      {"Pmax", "3\u00A0000 BA", 3000},
        {"Pmax", "3\u2009000", 3000}, {"UbatLow", "1 234,5", 12345},
        {"Pmax", "12 B", 12},  // a blank before a unit ends the number
        {"Pmax", "26,", 26},   // a comma that no digit follows is no separator
        {"UbatLow", "1,234.5", -1},   {"UbatLow", "2,5,1", -1},
        {"UbatLow", "1.234,5", -1},   {"UbatLow", "2.5.1", -1},
    };
    for (const Case& c : cases) {
        const SettingParam& param = setting(c.name, 1);
        const SettingDecision d = decide_setting_write(param, c.text, 1.0f);
        if (c.wire < 0) {
            EXPECT_EQ(d.kind, Kind::Refused) << c.text;
            EXPECT_EQ(d.refusal, std::string(c.name) + ": допустимые значения от 0 до 6553.5")
                << c.text;
            continue;
        }
        ASSERT_EQ(d.kind, Kind::Send) << c.text;
        EXPECT_EQ(d.frame[2] * 256 + d.frame[3], c.wire) << c.text;
    }
}

TEST(SettingWrite, NumbersThatDoNotFitOrAreNoNumbersAreRefused) {
    struct Case {
        const char* name;
        int family;
        const char* text;
        const char* refusal;
    };
    const Case cases[] = {
        {"UbatLow", 1, "7000", "UbatLow: допустимые значения от 0 до 6553.5"},
        {"UbatLow", 1, "6553.6", "UbatLow: допустимые значения от 0 до 6553.5"},
        // A negative number, even one that truncates to zero, is refused.
        {"UbatLow", 1, "-1",
         "UbatLow: отрицательное значение -1 не принимается, ничего не записано"},
        {"UbatLow", 1, "-0.09",
         "UbatLow: отрицательное значение -0.09 не принимается, ничего не записано"},
        {"Pmax", 1, "-0.5", "Pmax: отрицательное значение -0.5 не принимается, ничего не записано"},
        {"Pmax", 1, "65536", "Pmax: допустимые значения от 0 до 65535"},
        {"Pmax", 1, "4294967296", "Pmax: допустимые значения от 0 до 65535"},
        {"Pmax", 1, "1e300", "Pmax: допустимые значения от 0 до 65535"},
        {"EGenPmax", 2, "9e999", "EGenPmax: введите число от 0 до 65535"},
        {"AbsEndFactor", 2, "256", "AbsEndFactor: допустимые значения от 0 до 255"},
        {"EGenType", 2, "-3",
         "EGenType: отрицательное значение -3 не принимается, ничего не записано"},
        {"RFloatTime", 2, "46", "RFloatTime: допустимые значения от 0 до 45.51"},
        {"UbatMin", 2, "abc", "UbatMin: введите число от 0 до 6553.5"},
        {"UbatMin", 2, "inf", "UbatMin: введите число от 0 до 6553.5"},
        {"UbatMin", 2, "-nan", "UbatMin: введите число от 0 до 6553.5"},
        {"UbatMin", 2, "0x10", "UbatMin: введите число от 0 до 6553.5"},
        {"UbatMin", 2, "B 26.5", "UbatMin: введите число от 0 до 6553.5"},
        {"UbatMin", 2, ".", "UbatMin: введите число от 0 до 6553.5"},
    };
    for (const Case& c : cases) {
        const SettingDecision d = decide_setting_write(setting(c.name, c.family), c.text, 1.0f);
        EXPECT_EQ(d.kind, Kind::Refused) << c.name << " " << c.text;
        EXPECT_EQ(d.refusal, c.refusal) << c.name << " " << c.text;
        EXPECT_EQ(d.frame_length, 0);
    }
}

TEST(SettingWrite, ReadingIgnoresTheProcessLocale) {
    // A window toolkit sets the locale from the environment; a decimal comma
    // locale must not turn "26.5" into 26.
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    const bool switched = std::setlocale(LC_ALL, "ru_RU.UTF-8") != nullptr ||
                          std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    const SettingDecision d = decide_setting_write(setting("UbatLow", 1), "26.5", 0.0f);
    const SettingDecision limit = decide_setting_write(setting("UbatLow", 1), "7000", 0.0f);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(frame_of(d), (std::vector<uint8_t>{0xBE, 0x4D, 0x01, 0x09, 0xAA}));
    EXPECT_EQ(limit.refusal, "UbatLow: допустимые значения от 0 до 6553.5");
    if (!switched) {
        GTEST_LOG_(INFO) << "no decimal-comma locale installed; read in the C locale only";
    }
}

TEST(SettingWrite, TableAgreesWithTheReplyCatalogue) {
    std::set<int> ids;
    for (const SettingParam& param : setting_params()) {
        EXPECT_TRUE(ids.insert(param.control_id).second) << param.control_id;
        // Written by the read command minus one, into the field that read
        // fills, with the read's divisor as the scale and its width.
        const ReplyEntry* read = find_reply(param.write_command + 1);
        ASSERT_NE(read, nullptr) << param.name;
        ASSERT_EQ(read->variables.size(), 1u) << param.name;
        EXPECT_EQ(read->variables[0]->field, param.field) << param.name;
        EXPECT_EQ(read->variables[0]->scale, param.scale) << param.name;
        EXPECT_EQ(read->length == 4 ? 1 : 2, param.payload_width) << param.name;
        EXPECT_EQ(param.shown_guard, param.page != SettingPage::Kx) << param.name;
        EXPECT_EQ(param.read_only_guard, std::string(param.name) == "EGenOnTime");
        EXPECT_EQ(find_setting(param.control_id), &param);
        EXPECT_EQ(find_setting(param.name, param.page == SettingPage::Kx ? Family::Kx : Family::Qm),
                  &param);
    }
    EXPECT_EQ(ids.size(), 25u);
    EXPECT_EQ(find_setting("UrmsNom", Family::Kx), nullptr);
    EXPECT_EQ(find_setting("UoutNom", Family::Qm), nullptr);
    EXPECT_EQ(find_setting("UbatLow", Family::Kx)->control_id, 1039);
    EXPECT_EQ(find_setting("UbatLow", Family::Qm)->control_id, 1090);
    EXPECT_EQ(find_setting(1088), nullptr);
}

TEST(SettingWrite, WritesBorrowThePortAndTheDeviceReadsThemBack) {
    SimLinePort sim(DeviceModel::KX24);
    auto& device = sim.line->device;
    device.set_value(0x4E, 225);
    DeviceState state;
    state.g_com_port.store(3);
    state.g_worker_idle.store(1);
    auto pass = [&] {
        ASSERT_TRUE(sim.port.open(3));
        poll_cycle_kx(sim.port, state);
        sim.port.close();
        device.clear_log();
    };
    // Before a complete pass nothing stored is the device's: refused, and
    // nothing reaches the device.
    const SettingDecision unknown = write_setting(sim.port, state, setting("UbatLow", 1), "26");
    EXPECT_EQ(unknown.kind, Kind::Refused);
    EXPECT_EQ(unknown.refusal, std::string("UbatLow: ") + kValueUnknownText);
    EXPECT_TRUE(device.received().empty());
    pass();
    EXPECT_EQ(state.g_values_read.load(), 1);

    // A changed value: one frame, the port closed and the pause dropped
    // afterwards; nothing stored here, the next pass reads the new value.
    const SettingParam& ubat_low = setting("UbatLow", 1);
    SettingDecision d = write_setting(sim.port, state, ubat_low, "26.5 B");
    EXPECT_TRUE(d.sent);
    ASSERT_EQ(device.received().size(), 1u);
    EXPECT_EQ(device.received()[0], (std::vector<uint8_t>{0xBE, 0x4D, 0x01, 0x09, 0xAA}));
    EXPECT_FALSE(sim.port.is_open());
    EXPECT_EQ(state.g_poll_pause.load(), 0);
    EXPECT_FLOAT_EQ(state.set_ubat_low.load(), 22.5f);
    pass();
    EXPECT_FLOAT_EQ(state.set_ubat_low.load(), 26.5f);

    // Unchanged or refused: the port is still borrowed, opened and closed,
    // but nothing is written.
    const int opens = sim.line->opens.load();
    EXPECT_EQ(write_setting(sim.port, state, ubat_low, "26.5 B").kind, Kind::Unchanged);
    EXPECT_EQ(write_setting(sim.port, state, ubat_low, "9999").kind, Kind::Refused);
    EXPECT_TRUE(device.received().empty());
    EXPECT_EQ(sim.line->opens.load(), opens + 2);
    EXPECT_FALSE(sim.port.is_open());
    EXPECT_EQ(state.g_poll_pause.load(), 0);

    // A port that will not open: decided, not sent, the pause dropped.
    sim.line->fail_open = true;
    d = write_setting(sim.port, state, ubat_low, "30");
    EXPECT_EQ(d.kind, Kind::Send);
    EXPECT_FALSE(d.sent);
    EXPECT_TRUE(device.received().empty());
    EXPECT_EQ(state.g_poll_pause.load(), 0);
}

TEST(SettingWrite, FixedValuesAndActionsGoThroughTheSamePath) {
    SimLinePort sim(DeviceModel::QM48);
    sim.line->device.set_status_byte(0, 0x00);
    DeviceState state;
    state.g_com_port.store(2);
    state.g_worker_idle.store(1);

    EXPECT_EQ(frame_of(write_fixed_u8(sim.port, state, kEGenUbatWrite, 1)),
              (std::vector<uint8_t>{0xBE, 0x6D, 0x01, 0xAA}));
    EXPECT_EQ(frame_of(write_fixed_u16(sim.port, state, kEGenWorkWrite, kTrainingOnSeconds)),
              (std::vector<uint8_t>{0xBE, 0x75, 0x00, 0x14, 0xAA}));
    const SettingDecision on = send_action(sim.port, state, cmd::kGenerationOn);
    EXPECT_EQ(frame_of(on), (std::vector<uint8_t>{0xBE, 0x48, 0xAA}));
    EXPECT_TRUE(on.sent);
    EXPECT_EQ(sim.line->device.received().size(), 3u);
    EXPECT_EQ(sim.line->opens.load(), 3);
    EXPECT_FALSE(sim.port.is_open());
    EXPECT_EQ(state.g_poll_pause.load(), 0);

    ASSERT_TRUE(sim.port.open(2));
    poll_cycle_qm(sim.port, state);
    sim.port.close();
    EXPECT_EQ(state.qm_status1[2].load(), 1);
    EXPECT_FLOAT_EQ(state.set_egen_ubat.load(), 1.0f);
    EXPECT_FLOAT_EQ(state.set_egen_work.load(), 20.0f);
}

TEST(SettingWrite, ALoanInsideAParkedWorkerLeavesItParked) {
    // The close sequence parks the worker; a field that loses the focus while
    // the window goes away still writes, but must not wake the worker.
    SimLinePort sim;
    DeviceState state;
    state.g_com_port.store(1);
    state.g_worker_idle.store(1);
    state.g_values_read.store(1);
    park_worker(state);
    write_setting(sim.port, state, setting("Pmax", 1), "100");
    EXPECT_EQ(state.g_poll_pause.load(), 1);
    release_worker(state);
    EXPECT_EQ(state.g_poll_pause.load(), 0);
}

}  // namespace
}  // namespace zorvane
