#include "link/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/cli/cli_commands.h"
#include "scoped_env.h"
#include "scripted_bus.h"

namespace zorvane {
namespace {

using testing::ScriptedLine;
using Bytes = std::vector<uint8_t>;

Bytes battery(uint16_t tenths_of_volt) {
    return {0xBE, 0xC5, static_cast<uint8_t>(tenths_of_volt >> 8),
            static_cast<uint8_t>(tenths_of_volt & 0xFF), 0xAA};
}
const Bytes kKxStatus = {0xBE, 0xCA, 0x04, 0x00, 0xAA};
const Bytes kQmStatus = {0xBE, 0xCA, 0x04, 0x00, 0x00, 0xAA};

Bytes serial(const std::string& text) {
    Bytes reply(13, 0);
    reply[0] = 0xBE;
    reply[1] = 0xD6;
    std::copy(text.begin(), text.end(), reply.begin() + 2);
    reply[12] = 0xAA;
    return reply;
}
const Bytes kNoSerial = serial(
    "\xFF"
    "77");  // whatever follows FF is ignored

ScriptedLine& device(ScriptedLine& line, uint16_t volts, const Bytes& status, const Bytes& sn) {
    line.answer(0x45, battery(volts));
    line.answer(0x4A, status);
    line.answer(0x56, sn);
    return line;
}

// Discovery writes into the process-wide record: each test starts from zero.
class Discovery : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
    void TearDown() override {
        reset();
        set_link_failure_handler(nullptr);
    }
    static void reset() {
        device_state.g_com_port.store(0);
        device_state.g_device_kind.store(0);
        device_state.g_main_thread_id.store(0);
    }
    // The search over the scripted lines, each probe on a port object of
    // its own, as the real search does.
    std::vector<FoundDevice> scan() {
        SearchOptions options;
        options.ports.emplace();
        for (const auto& [path, line] : bus.lines->by_path) {
            options.ports->push_back(PortInfo{com_port_of_path(path), path, {}, {}});
        }
        std::sort(options.ports->begin(), options.ports->end(),
                  [](const PortInfo& a, const PortInfo& b) { return a.com < b.com; });
        options.backend = [lines = bus.lines] {
            return std::make_unique<testing::ScriptedBus>(lines);
        };
        return search_devices(device_state, options).found;
    }

    // Every COMn has a name, and none of them is a real port.
    testing::ScopedEnv m_ports{"ZORVANE_PORT_DIR", "/nonexistent"};
    testing::ScriptedBusPort bus;  // after m_ports: lines are registered by name
};

TEST(IdentifyModel, StatusFormAndBatteryVoltageSelectTheModel) {
    const uint8_t kx[] = {0xBE, 0xCA, 0x00, 0x00, 0xAA};
    const uint8_t qm[] = {0xBE, 0xCA, 0x00, 0x00, 0x00, 0xAA};
    const uint8_t qm_bad_code[] = {0xBE, 0x4A, 0x00, 0x00, 0x00, 0xAA};
    const uint8_t four[] = {0xBE, 0xCA, 0x00, 0xAA};
    struct Case {
        const char* what;
        const uint8_t* reply;
        int count;
        float volts;
        DeviceModel model;
    } const cases[] = {
        {"KX at exactly 30.0 V is a 24 V model", kx, 5, 30.0f, DeviceModel::KX24},
        {"KX at 30.1 V", kx, 5, 30.1f, DeviceModel::KX48},
        {"QM at exactly 30.0 V", qm, 6, 30.0f, DeviceModel::QM24},
        {"QM at 30.1 V", qm, 6, 30.1f, DeviceModel::QM48},
        {"long form cut to 5 bytes", qm, 5, 52.0f, DeviceModel::KX24},
        {"long form with bit 7 of the code clear", qm_bad_code, 6, 52.0f, DeviceModel::KX24},
        {"4-byte status", four, 4, 52.0f, DeviceModel::KX24},
        {"nothing received", kx, 0, 52.0f, DeviceModel::KX24},
        {"port not open", kx, -1, 52.0f, DeviceModel::KX24},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(identify_model(c.reply, c.count, c.volts), c.model) << c.what;
    }
    EXPECT_STREQ(model_profile(DeviceModel::QM24).name, "QM-24");
    EXPECT_EQ(model_profile(DeviceModel::KX48).family, Family::Kx);
    EXPECT_EQ(model_profile(DeviceModel::QM24).family, Family::Qm);
}

TEST_F(Discovery, ProbeSendsItsFourProbesInOrderAndClosesThePort) {
    ScriptedLine& line = device(bus.line(3), 300, kKxStatus, serial("12345"));
    const auto found = probe_port(bus.port, 3);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->port, 3);
    EXPECT_EQ(found->caption, "KX-24. S/N: 12345");  // 0x01 0x2C = 30.0 V
    const std::vector<Bytes> sent = {Bytes(13, 0x00),
                                     {0xBE, 0x45, 0xAA},
                                     {0xBE, 0x45, 0xAA},
                                     {0xBE, 0x4A, 0xAA},
                                     {0xBE, 0x56, 0xAA}};
    EXPECT_EQ(line.writes, sent);
    EXPECT_EQ(line.close_count, 1);
    EXPECT_EQ(device_state.g_com_port.load(), 0) << "only the scan stores a find";
    EXPECT_FALSE(probe_port(bus.port, 9).has_value()) << "nothing behind COM9";
}

TEST_F(Discovery, ScanListsDevicesByPortAndPollsTheLastFind) {
    device(bus.line(2), 520, kQmStatus, serial("12345"));
    device(bus.line(5), 301, kKxStatus, kNoSerial);
    // The first battery reply is garbage, the second good.
    ScriptedLine& garbage_first = bus.line(9);
    garbage_first.answer(0x45, {0x13, 0x37, 0x00});
    device(garbage_first, 240, {0xBE, 0xCA, 0x00, 0xAA}, serial("0123456789"));

    const std::vector<FoundDevice> found = scan();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].port, 2);
    EXPECT_EQ(found[0].caption, "QM-48. S/N: 12345");
    EXPECT_EQ(found[1].port, 5);
    EXPECT_EQ(found[1].caption, "KX-48. S/N: не назначен");
    EXPECT_EQ(found[2].caption, "KX-24. S/N: 0123456789") << "4-byte status: a KX-24";
    EXPECT_EQ(device_state.g_com_port.load(), 9);
    EXPECT_EQ(device_state.g_device_kind.load(), 1);

    EXPECT_EQ(cli::scan_listing_line(found[0]), "COM2\tQM-48. S/N: 12345");
    const FoundDevice odd{12, "", DeviceModel::KX24, "", "KX-24. S/N: A\tB\nC\x7f"};
    EXPECT_EQ(cli::scan_listing_line(odd), "COM12\tKX-24. S/N: A?B?C?") << "one line, one tab";
}

TEST_F(Discovery, BadAnswersSkipAPortWithoutTouchingThePolledPort) {
    device(bus.line(2), 480, kQmStatus, serial("A1"));
    Bytes twelve = serial("99");
    twelve.pop_back();
    Bytes fourteen = serial("98");
    fourteen.push_back(0x00);
    ScriptedLine& short_serial = device(bus.line(3), 240, kKxStatus, twelve);
    ScriptedLine& long_serial = device(bus.line(4), 240, kKxStatus, fourteen);
    ScriptedLine& silent = bus.line(6);
    ScriptedLine& answers_once = bus.line(7);
    answers_once.answer(0x45, battery(240));
    answers_once.answer(0x45, {0x00, 0x13});

    const std::vector<FoundDevice> found = scan();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, 2);
    EXPECT_EQ(device_state.g_com_port.load(), 2);
    EXPECT_EQ(device_state.g_device_kind.load(), 2);
    // A silent port costs the wake-up and the two battery probes, no more.
    EXPECT_EQ(silent.writes.size(), 3u);
    EXPECT_EQ(answers_once.writes.size(), 3u);
    for (const ScriptedLine* line : {&short_serial, &long_serial, &silent, &answers_once}) {
        EXPECT_EQ(line->close_count, line->open_count);
    }
    EXPECT_FALSE(bus.port.is_open());
}

TEST_F(Discovery, ALinkFailureDuringTheSearchIsReportedButEndsNothing) {
    std::vector<bool> quits;
    set_link_failure_handler([&](bool quit) { quits.push_back(quit); });
    ScriptedLine& pulled = bus.line(1);
    pulled.unplugged = true;
    device(bus.line(2), 250, kKxStatus, serial("5"));

    const std::vector<FoundDevice> found = scan();
    // The wake-up fails: one report, not asking to quit, no more probes on
    // that port, and the search goes on to the next port.
    EXPECT_EQ(quits, std::vector<bool>{false});
    EXPECT_EQ(pulled.writes.size(), 1u);
    EXPECT_EQ(pulled.close_count, 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, 2);
}

}  // namespace
}  // namespace zorvane
