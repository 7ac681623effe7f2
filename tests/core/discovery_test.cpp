#include "link/discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scoped_env.h"
#include "scripted_bus.h"

namespace zorvane {
namespace {

using testing::ScriptedBusPort;
using testing::ScriptedLine;
using Bytes = std::vector<uint8_t>;

const Bytes kBatteryRequest = {0xBE, 0x45, 0xAA};
const Bytes kStatusRequest = {0xBE, 0x4A, 0xAA};
const Bytes kSerialRequest = {0xBE, 0x56, 0xAA};

Bytes battery_reply(uint16_t tenths_of_volt) {
    return {0xBE, 0xC5, static_cast<uint8_t>(tenths_of_volt >> 8),
            static_cast<uint8_t>(tenths_of_volt & 0xFF), 0xAA};
}
const Bytes kKxStatus = {0xBE, 0xCA, 0x04, 0x00, 0xAA};
const Bytes kQmStatus = {0xBE, 0xCA, 0x04, 0x00, 0x00, 0xAA};

Bytes serial_reply(const std::string& serial) {
    Bytes reply(13, 0);
    reply[0] = 0xBE;
    reply[1] = 0xD6;
    std::copy(serial.begin(), serial.end(), reply.begin() + 2);
    reply[12] = 0xAA;
    return reply;
}
Bytes no_serial_reply() {
    Bytes reply = serial_reply("");
    reply[2] = 0xFF;
    reply[3] = '7';  // whatever follows the FF mark is ignored
    return reply;
}

// A device that answers every probe well.
void device(ScriptedLine& line, uint16_t battery, const Bytes& status, const Bytes& serial) {
    line.answer(0x45, battery_reply(battery));
    line.answer(0x4A, status);
    line.answer(0x56, serial);
}

// Discovery writes into the process-wide record: start each test from zero.
class Discovery : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
    void TearDown() override {
        reset();
        set_link_failure_handler(nullptr);
    }
    // Every COMn has a name, and none of them is a real port.
    testing::ScopedEnv m_ports{"ZORVANE_PORT_DIR", "/nonexistent"};
    static void reset() {
        device_state.g_com_port.store(0);
        device_state.g_device_kind.store(0);
        device_state.g_main_thread_id.store(0);
    }
    ScriptedBusPort bus;  // after m_ports: registers lines by their names
};

TEST(IdentifyModel, StatusFormAndBatteryVoltageSelectTheModel) {
    const uint8_t kx[] = {0xBE, 0xCA, 0x00, 0x00, 0xAA};
    const uint8_t qm[] = {0xBE, 0xCA, 0x00, 0x00, 0x00, 0xAA};
    const uint8_t kx_bad_end[] = {0xBE, 0xCA, 0x00, 0x00, 0x00};
    const uint8_t qm_bad_code[] = {0xBE, 0x4A, 0x00, 0x00, 0x00, 0xAA};
    const uint8_t qm_bad_start[] = {0xBF, 0xCA, 0x00, 0x00, 0x00, 0xAA};
    const uint8_t four[] = {0xBE, 0xCA, 0x00, 0xAA};
    const uint8_t seven[] = {0xBE, 0xCA, 0x00, 0x00, 0x00, 0x00, 0xAA};
    struct Case {
        const char* what;
        const uint8_t* reply;
        int count;
        float volts;
        DeviceModel model;
    };
    const Case cases[] = {
        {"KX at 24 V", kx, 5, 26.4f, DeviceModel::KX24},
        {"KX at exactly 30.0 V is a 24 V model", kx, 5, 30.0f, DeviceModel::KX24},
        {"KX at 30.1 V", kx, 5, 30.1f, DeviceModel::KX48},
        {"QM at exactly 30.0 V", qm, 6, 30.0f, DeviceModel::QM24},
        {"QM at 30.1 V", qm, 6, 30.1f, DeviceModel::QM48},
        {"QM at 52 V", qm, 6, 52.0f, DeviceModel::QM48},
        {"6-byte form cut to 5", qm, 5, 52.0f, DeviceModel::KX24},
        {"5-byte form with a wrong end", kx_bad_end, 5, 52.0f, DeviceModel::KX24},
        {"6-byte form with bit 7 of the code clear", qm_bad_code, 6, 52.0f, DeviceModel::KX24},
        {"6-byte form with a wrong start", qm_bad_start, 6, 52.0f, DeviceModel::KX24},
        {"4-byte status", four, 4, 52.0f, DeviceModel::KX24},
        {"7-byte status", seven, 7, 52.0f, DeviceModel::KX24},
        {"nothing received", kx, 0, 52.0f, DeviceModel::KX24},
        {"port not open", kx, -1, 52.0f, DeviceModel::KX24},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(identify_model(c.reply, c.count, c.volts), c.model) << c.what;
    }

    EXPECT_STREQ(model_caption(DeviceModel::KX24).caption_prefix, "KX-24. ");
    EXPECT_STREQ(model_caption(DeviceModel::KX48).caption_prefix, "KX-48. ");
    EXPECT_STREQ(model_caption(DeviceModel::QM24).caption_prefix, "QM-24. ");
    EXPECT_STREQ(model_caption(DeviceModel::QM48).caption_prefix, "QM-48. ");
    EXPECT_EQ(model_caption(DeviceModel::KX48).family, 1);
    EXPECT_EQ(model_caption(DeviceModel::QM24).family, 2);
}

TEST_F(Discovery, ProbeSendsTheFourProbesInOrderAndClosesThePort) {
    ScriptedLine& line = bus.line(3);
    device(line, 300, kKxStatus, serial_reply("12345"));

    const auto found = probe_port(bus.port, 3);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->port, 3);
    EXPECT_EQ(found->model, DeviceModel::KX24);  // 0x01 0x2C = 30.0 V
    EXPECT_EQ(found->caption, "KX-24. S/N: 12345");
    EXPECT_EQ(found->family(), 1);

    const std::vector<Bytes> expected = {Bytes(13, 0x00), kBatteryRequest, kBatteryRequest,
                                         kStatusRequest, kSerialRequest};
    EXPECT_EQ(line.writes, expected);
    EXPECT_EQ(line.open_count, 1);
    EXPECT_EQ(line.close_count, 1);
    EXPECT_FALSE(bus.port.is_open());

    // Probing never touches the connection fields: only the scan stores a find.
    EXPECT_EQ(device_state.g_com_port.load(), 0);

    ScriptedLine& higher = bus.line(4);
    device(higher, 301, kKxStatus, no_serial_reply());
    const auto kx48 = probe_port(bus.port, 4);
    ASSERT_TRUE(kx48.has_value());
    EXPECT_EQ(kx48->caption, "KX-48. S/N: не назначен");

    EXPECT_FALSE(probe_port(bus.port, 9).has_value()) << "nothing behind COM9";
}

TEST_F(Discovery, ScanListsDevicesByPortAndPollsTheLastFind) {
    device(bus.line(2), 520, kQmStatus, serial_reply("12345"));
    device(bus.line(5), 264, kKxStatus, no_serial_reply());

    const std::vector<FoundDevice> found = scan_devices(bus.port, device_state);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].port, 2);
    EXPECT_EQ(found[0].model, DeviceModel::QM48);
    EXPECT_EQ(found[0].caption, "QM-48. S/N: 12345");
    EXPECT_EQ(found[1].port, 5);
    EXPECT_EQ(found[1].caption, "KX-24. S/N: не назначен");
    EXPECT_EQ(device_state.g_com_port.load(), 5);
    EXPECT_EQ(device_state.g_device_kind.load(), 1);
    EXPECT_FALSE(bus.port.is_open());
}

TEST_F(Discovery, BadAnswersSkipAPortWithoutTouchingThePolledPort) {
    device(bus.line(2), 240, kKxStatus, serial_reply("A1"));

    // Answers everything, but its serial-number reply is one byte short.
    ScriptedLine& short_serial = bus.line(3);
    Bytes twelve = serial_reply("99");
    twelve.pop_back();
    device(short_serial, 240, kKxStatus, twelve);
    // One byte too many is no better: the length must be exact.
    ScriptedLine& long_serial = bus.line(4);
    Bytes fourteen = serial_reply("98");
    fourteen.push_back(0x00);
    device(long_serial, 240, kKxStatus, fourteen);
    // Opens but never answers.
    ScriptedLine& silent = bus.line(6);
    // Answers the first battery probe but not the second.
    ScriptedLine& once = bus.line(7);
    once.answer(0x45, battery_reply(240));
    once.answer(0x45, {0x00, 0x13});

    const std::vector<FoundDevice> found = scan_devices(bus.port, device_state);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, 2);
    EXPECT_EQ(device_state.g_com_port.load(), 2);
    EXPECT_EQ(device_state.g_device_kind.load(), 1);

    // A silent port costs the wake-up and the two battery probes, no more.
    EXPECT_EQ(silent.writes.size(), 3u);
    EXPECT_EQ(once.writes.size(), 3u);
    for (const ScriptedLine* line : {&short_serial, &long_serial, &silent, &once}) {
        EXPECT_EQ(line->open_count, 1);
        EXPECT_EQ(line->close_count, 1);
    }
}

TEST_F(Discovery, OddButUsableAnswersStillIdentifyTheDevice) {
    // The first battery reply is garbage, the second is good.
    ScriptedLine& garbage_first = bus.line(1);
    garbage_first.answer(0x45, {0x13, 0x37, 0x00});
    device(garbage_first, 480, kQmStatus, serial_reply("0123456789"));
    // A 4-byte status reply: still a device, taken as a KX-24.
    device(bus.line(8), 480, {0xBE, 0xCA, 0x00, 0xAA}, serial_reply("X"));
    // A battery reply with a surplus byte passes (at least five bytes).
    Bytes long_battery = battery_reply(250);
    long_battery.push_back(0x55);
    device(bus.line(200), 0, kQmStatus, serial_reply("7"));
    bus.line(200).replies[0x45] = {long_battery};

    const std::vector<FoundDevice> found = scan_devices(bus.port, device_state);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].caption, "QM-48. S/N: 0123456789");
    EXPECT_EQ(found[1].caption, "KX-24. S/N: X");
    EXPECT_EQ(found[2].port, 200);
    EXPECT_EQ(found[2].caption, "QM-24. S/N: 7");
    EXPECT_EQ(device_state.g_com_port.load(), 200);
    EXPECT_EQ(device_state.g_device_kind.load(), 2);
}

TEST_F(Discovery, ALinkFailureDuringTheSearchIsReportedButEndsNothing) {
    std::vector<bool> quits;
    set_link_failure_handler([&](bool quit) { quits.push_back(quit); });
    ScriptedLine& pulled = bus.line(1);
    pulled.unplugged = true;
    device(bus.line(2), 250, kKxStatus, serial_reply("5"));

    const std::vector<FoundDevice> found = scan_devices(bus.port, device_state);

    // The wake-up and both battery probes fail: three reports, none asking
    // to quit, and the search goes on to the next port.
    EXPECT_EQ(quits, std::vector<bool>(3, false));
    EXPECT_EQ(pulled.close_count, 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, 2);
}

}  // namespace
}  // namespace zorvane
