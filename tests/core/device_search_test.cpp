// The device search end to end: the real serial backend on pseudo-terminals,
// simulated devices behind them, found through the port directory.
#include <gtest/gtest.h>

#include <mutex>

#include "link/discovery.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "scoped_env.h"
#include "sim/port_directory.h"

namespace zorvane {
namespace {

using sim::DeviceConfig;
using sim::PortDirectory;
using sim::PortOptions;
using Bytes = std::vector<uint8_t>;

constexpr PortOptions kPaced{.pace = true};

DeviceConfig device(DeviceModel model, std::optional<std::string> serial,
                    std::optional<uint16_t> battery = {}) {
    return DeviceConfig{.model = model, .serial = std::move(serial), .battery = battery};
}

// Link failures reported while the search runs, with the quit request of each.
class FailureLog {
  public:
    FailureLog() {
        set_link_failure_handler([this](bool quit) {
            std::lock_guard lock(m_mutex);
            m_quits.push_back(quit);
        });
    }
    ~FailureLog() { set_link_failure_handler(nullptr); }
    std::vector<bool> quits() {
        std::lock_guard lock(m_mutex);
        return m_quits;
    }

  private:
    std::mutex m_mutex;
    std::vector<bool> m_quits;
};

struct Search {
    PortDirectory dir;
    testing::ScopedEnv env{"ZORVANE_PORT_DIR", dir.path().c_str()};
    FailureLog failures;
    DeviceState state;

    std::vector<FoundDevice> run() { return scan_devices(state); }
};

TEST(DeviceSearch, FindsAQmAndAKxInPortOrder) {
    Search search;
    auto* qm = search.dir.add(2, device(DeviceModel::QM48, "12345"), kPaced);
    auto* kx = search.dir.add(5, device(DeviceModel::KX24, std::nullopt), kPaced);
    ASSERT_TRUE(qm && kx);

    const auto found = search.run();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].port, 2);
    EXPECT_EQ(found[0].model, DeviceModel::QM48);
    EXPECT_EQ(found[0].caption, "QM-48. S/N: 12345");
    EXPECT_EQ(found[1].port, 5);
    EXPECT_EQ(found[1].model, DeviceModel::KX24);
    EXPECT_EQ(found[1].caption, "KX-24. S/N: не назначен");
    // The last find is the one that will be polled.
    EXPECT_EQ(search.state.g_com_port.load(), 5);
    EXPECT_EQ(search.state.g_device_kind.load(), 1);
    EXPECT_TRUE(search.failures.quits().empty());

    // Each device heard the probe exactly: zeros, two battery probes, the
    // status and the serial number, and nothing else.
    const std::vector<Bytes> probe = {
        {0xBE, 0x45, 0xAA}, {0xBE, 0x45, 0xAA}, {0xBE, 0x4A, 0xAA}, {0xBE, 0x56, 0xAA}};
    EXPECT_EQ(qm->received(), probe);
    EXPECT_EQ(kx->received(), probe);
    EXPECT_EQ(kx->received_bytes(), 13u + 4 * 3);
}

TEST(DeviceSearch, BatteryVoltageSplitsTheModelsAndAGarbledFirstReplyIsForgiven) {
    Search search;
    ASSERT_TRUE(search.dir.add(3, device(DeviceModel::KX24, "300", 300), kPaced));
    ASSERT_TRUE(search.dir.add(4, device(DeviceModel::KX48, "301", 301), kPaced));
    auto* garbled = search.dir.add(7, device(DeviceModel::KX48, "G7"), kPaced);
    ASSERT_TRUE(garbled);
    // Line noise instead of the first battery reply, longer than a frame.
    garbled->inject(sim::fault::garbage(0x45, 1));
    garbled->inject(sim::fault::extra_bytes(0x45, Bytes(30, 0xBE), 1));

    const auto found = search.run();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].caption, "KX-24. S/N: 300");  // exactly 30.0 V is a 24 V model
    EXPECT_EQ(found[1].caption, "KX-48. S/N: 301");
    EXPECT_EQ(found[2].caption, "KX-48. S/N: G7");
    EXPECT_EQ(search.state.g_com_port.load(), 7);
    EXPECT_EQ(search.state.g_device_kind.load(), 1);
}

TEST(DeviceSearch, SilentPortAndShortSerialNumberAreSkipped) {
    Search search;
    auto* silent = search.dir.add_silent(1, kPaced);
    ASSERT_TRUE(silent);
    ASSERT_TRUE(search.dir.add(3, device(DeviceModel::KX24, "A1"), kPaced));
    auto* short_serial = search.dir.add(6, device(DeviceModel::KX48, "B2"), kPaced);
    ASSERT_TRUE(short_serial);
    short_serial->inject(sim::fault::truncate(0x56, 12));

    const auto found = search.run();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, 3);
    EXPECT_EQ(found[0].caption, "KX-24. S/N: A1");
    // The device on COM6 answered every other probe, yet changed nothing.
    EXPECT_EQ(search.state.g_com_port.load(), 3);
    EXPECT_EQ(search.state.g_device_kind.load(), 1);
    EXPECT_EQ(short_serial->received().size(), 4u);
    // The silent port got the wake-up and the battery probes, and no more.
    EXPECT_EQ(silent->received(), (std::vector<Bytes>{{0xBE, 0x45, 0xAA}, {0xBE, 0x45, 0xAA}}));
    EXPECT_TRUE(search.failures.quits().empty());
}

TEST(DeviceSearch, ACablePulledDuringTheSearchIsReportedAndTheScanGoesOn) {
    Search search;
    auto* pulled = search.dir.add(2, device(DeviceModel::KX24, "P"), kPaced);
    ASSERT_TRUE(pulled);
    pulled->inject(sim::fault::hang_up(0x45));
    ASSERT_TRUE(search.dir.add(4, device(DeviceModel::KX48, "OK"), kPaced));

    const auto found = search.run();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, 4);
    EXPECT_EQ(search.state.g_com_port.load(), 4);
    // The first battery probe's read fails: one report, no quit requested
    // while the search runs, and no second probe into the dead line.
    EXPECT_EQ(search.failures.quits(), (std::vector<bool>{false}));
}

// The status reply in two bursts, cut anywhere, and the other family's
// form: the model is the one a wait for every read would have named.
TEST(DeviceSearch, SplitStatusRepliesIdentifyAsTheWholeReply) {
    Search search;
    struct Case {
        int port;
        DeviceModel model;
        size_t first_burst;
    } const cases[] = {
        {1, DeviceModel::QM48, 1}, {2, DeviceModel::QM48, 3}, {3, DeviceModel::QM48, 4},
        {4, DeviceModel::KX48, 2}, {6, DeviceModel::KX48, 4}, {7, DeviceModel::QM24, 0},
    };
    for (const Case& c : cases) {
        auto* port = search.dir.add(c.port, device(c.model, std::to_string(c.port)), kPaced);
        ASSERT_TRUE(port);
        if (c.first_burst > 0) {
            port->inject(sim::fault::split(cmd::kStatus, c.first_burst));
        }
    }
    // A KX answering in the long form is taken for a QM, as it always was.
    auto* odd = search.dir.add(9, device(DeviceModel::KX48, "9"), kPaced);
    ASSERT_TRUE(odd);
    odd->inject(sim::fault::other_status_form());

    const auto found = search.run();
    ASSERT_EQ(found.size(), 7u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(found[i].port, cases[i].port);
        EXPECT_EQ(found[i].model, cases[i].model) << "status cut after " << cases[i].first_burst;
    }
    EXPECT_EQ(found[6].model, DeviceModel::QM48);
    EXPECT_EQ(search.state.g_com_port.load(), 9) << "the last find is polled";
}

}  // namespace
}  // namespace zorvane
