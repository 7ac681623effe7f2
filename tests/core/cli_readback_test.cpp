// zorvane-cli set and gen say what the device did: after the frame a pass
// reads the value back (exit 0 when the device holds it, 3 when it holds
// something else, 1 when it does not answer). Over a simulated KX-24 on a
// pseudo-terminal, through the commands' own code after the device search.
#include <gtest/gtest.h>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "scoped_env.h"
#include "sim/faults.h"
#include "sim/port_directory.h"
#include "state/device_state.h"

namespace zorvane {
namespace {

class CliReadBack : public ::testing::Test {
  protected:
    void SetUp() override {
        device_state.clear_device_values();
        device_state.g_values_read.store(0);
        device_state.g_device_answering.store(1);
        device_state.g_last_answer_ms.store(0);
        ASSERT_NE(m_kx, nullptr);
        ASSERT_TRUE(cli::search_polled_device());
    }
    void TearDown() override {
        device_state.clear_device_values();
        device_state.g_values_read.store(0);
        device_state.g_device_answering.store(1);
        device_state.g_main_thread_id.store(0);
    }
    void fault(sim::Fault f) { m_kx->inject(std::move(f)); }
    uint16_t held(uint8_t read_code) {
        return m_kx->with_device([&](sim::SimDevice& d) { return d.value(read_code); });
    }

    sim::PortDirectory m_ports;
    testing::ScopedEnv m_env{"ZORVANE_PORT_DIR", m_ports.path().c_str()};
    sim::SimulatedPort* m_kx =
        m_ports.add(4, {.model = DeviceModel::KX24, .serial = "1", .battery = {}});
};

TEST_F(CliReadBack, SetExitsByWhatTheDeviceHolds) {
    EXPECT_EQ(cli::set_after_search("UbatLow", "26,5"), 0);
    EXPECT_EQ(held(0x4E), 265);
    EXPECT_EQ(cli::set_after_search("UbatLow", "26.5"), 0);  // unchanged

    fault(sim::fault::ignore_writes());
    EXPECT_EQ(cli::set_after_search("Pmax", "2000"), 3);
    EXPECT_EQ(held(0x52), 3000);

    m_kx->clear_faults();
    fault(sim::fault::silence());
    EXPECT_EQ(cli::set_after_search("Pmax", "2000"), 1);
    EXPECT_EQ(held(0x52), 3000);
}

TEST_F(CliReadBack, GenChecksTheGenerationBitOfTheNextStatus) {
    EXPECT_EQ(cli::gen_after_search(false), 0);
    fault(sim::fault::ignore_writes());
    EXPECT_EQ(cli::gen_after_search(true), 3);
    m_kx->clear_faults();
    fault(sim::fault::silence());
    EXPECT_EQ(cli::gen_after_search(true), 1);
}

}  // namespace
}  // namespace zorvane
