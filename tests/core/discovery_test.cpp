#include "link/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/cli/cli_commands.h"
#include "scoped_env.h"
#include "sim/faults.h"
#include "sim_line.h"

namespace zorvane {
namespace {

using testing::SimLine;
using Bytes = std::vector<uint8_t>;
namespace fault = sim::fault;

sim::DeviceConfig device(DeviceModel model, std::optional<std::string> serial,
                         uint16_t volts_tenths) {
    return {.model = model, .serial = std::move(serial), .battery = volts_tenths};
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
    SimLine& add(int com_port, const sim::DeviceConfig& config) {
        return m_bus->add(com_port, config);
    }
    // A port that answers nothing.
    SimLine& add_silent(int com_port) {
        SimLine& line = add(com_port, device(DeviceModel::KX24, {}, 240));
        line.device.faults().add(fault::silence());
        return line;
    }
    // The search over the simulated lines, each probe on a port object of
    // its own, as the real search does.
    std::vector<FoundDevice> scan() {
        SearchOptions options;
        options.ports.emplace();
        for (const auto& [path, line] : m_bus->by_path) {
            options.ports->push_back(PortInfo{com_port_of_path(path), path, {}, {}});
        }
        std::sort(options.ports->begin(), options.ports->end(),
                  [](const PortInfo& a, const PortInfo& b) { return a.com < b.com; });
        options.backend = [bus = m_bus] { return std::make_unique<testing::SimLineBackend>(bus); };
        return search_devices(device_state, options).found;
    }

    // Every COMn has a name, and none of them is a real port.
    testing::ScopedEnv m_ports{"ZORVANE_PORT_DIR", "/nonexistent"};
    std::shared_ptr<testing::SimBus> m_bus = std::make_shared<testing::SimBus>();
    SerialPort m_port{std::make_unique<testing::SimLineBackend>(m_bus)};
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
    SimLine& line = add(3, device(DeviceModel::KX24, "12345", 300));
    const auto found = probe_port(m_port, 3);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->port, 3);
    EXPECT_EQ(found->caption, "KX-24. S/N: 12345");  // 0x01 0x2C = 30.0 V
    const std::vector<Bytes> sent = {Bytes(13, 0x00),
                                     {0xBE, 0x45, 0xAA},
                                     {0xBE, 0x45, 0xAA},
                                     {0xBE, 0x4A, 0xAA},
                                     {0xBE, 0x56, 0xAA}};
    EXPECT_EQ(line.writes, sent);
    EXPECT_EQ(line.closes, 1);
    EXPECT_EQ(device_state.g_com_port.load(), 0) << "only the scan stores a find";
    EXPECT_FALSE(probe_port(m_port, 9).has_value()) << "nothing behind COM9";
}

TEST_F(Discovery, ScanListsDevicesByPortAndPollsTheLastFind) {
    add(2, device(DeviceModel::QM48, "12345", 520));
    add(5, device(DeviceModel::KX48, std::nullopt, 301));  // no serial number: FF
    // The first battery reply is garbage, the second good; the status in
    // four bytes, which only the 24 V KX sends, whatever the battery.
    SimLine& odd = add(9, device(DeviceModel::KX48, "0123456789", 520));
    odd.device.faults().add(fault::garbage(0x45, 1));
    odd.device.faults().add(fault::truncate(0x4A, 4));

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
    const FoundDevice odd_caption{12, "", DeviceModel::KX24, "", "KX-24. S/N: A\tB\nC\x7f"};
    EXPECT_EQ(cli::scan_listing_line(odd_caption), "COM12\tKX-24. S/N: A\\x09B\\x0aC\\x7f")
        << "one line, one tab";
    // Cyrillic stays as it is; a C1 control (CSI) and a byte that is no
    // UTF-8 do not reach the terminal raw.
    EXPECT_EQ(cli::scan_listing_line(found[1]), "COM5\tKX-48. S/N: не назначен");
    const FoundDevice c1{12, "", DeviceModel::KX24, "",
                         "S/N: \xc2\x9b"
                         "2J\xff\xd0"};
    EXPECT_EQ(cli::scan_listing_line(c1), "COM12\tS/N: \\xc2\\x9b2J\\xff\\xd0");
}

TEST_F(Discovery, BadAnswersSkipAPortWithoutTouchingThePolledPort) {
    add(2, device(DeviceModel::QM48, "A1", 480));
    SimLine& short_serial = add(3, device(DeviceModel::KX24, "99", 240));
    short_serial.device.faults().add(fault::truncate(0x56, 12));
    SimLine& long_serial = add(4, device(DeviceModel::KX24, "98", 240));
    long_serial.device.faults().add(fault::extra_bytes(0x56, {0x00}));
    SimLine& silent = add_silent(6);
    SimLine& answers_once = add(7, device(DeviceModel::KX24, "97", 240));
    sim::Fault second_battery = fault::garbage(0x45);
    second_battery.after = 1;
    second_battery.bytes = {0x00, 0x13};
    answers_once.device.faults().add(second_battery);

    const std::vector<FoundDevice> found = scan();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, 2);
    EXPECT_EQ(device_state.g_com_port.load(), 2);
    EXPECT_EQ(device_state.g_device_kind.load(), 2);
    // A silent port costs the wake-up and the two battery probes, no more.
    EXPECT_EQ(silent.writes.size(), 3u);
    EXPECT_EQ(answers_once.writes.size(), 3u);
    for (const SimLine* line : {&short_serial, &long_serial, &silent, &answers_once}) {
        EXPECT_EQ(line->closes, line->opens);
    }
    EXPECT_FALSE(m_port.is_open());
}

TEST_F(Discovery, ALinkFailureDuringTheSearchIsReportedButEndsNothing) {
    std::vector<bool> quits;
    set_link_failure_handler([&](bool quit) { quits.push_back(quit); });
    SimLine& pulled = add(1, device(DeviceModel::KX24, "4", 250));
    pulled.device.faults().add(fault::hang_up());  // the adapter goes at the first probe
    add(2, device(DeviceModel::KX24, "5", 250));

    const std::vector<FoundDevice> found = scan();
    // One report, not asking to quit, no more probes on that port, and the
    // search goes on to the next port.
    EXPECT_EQ(quits, std::vector<bool>{false});
    EXPECT_EQ(pulled.writes.size(), 2u);  // the wake-up and the first battery probe
    EXPECT_EQ(pulled.closes, 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, 2);
}

}  // namespace
}  // namespace zorvane
