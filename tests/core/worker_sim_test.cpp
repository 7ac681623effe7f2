// The worker polling a simulated device over a pseudo-terminal while the
// window's side writes settings and sends commands through the hand-over.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "device/handover.h"
#include "device/poll_worker.h"
#include "device/setting_write.h"
#include "link/frame.h"
#include "scoped_env.h"
#include "sim/port_directory.h"

namespace zorvane {
namespace {

// The real backend, counting the threads that have it open.
class CountingBackend : public PortBackend {
  public:
    CountingBackend(std::atomic<int>& holders, std::atomic<bool>& overlap)
        : m_holders(holders), m_overlap(overlap) {}
    PortOpen open(const std::string& path) override {
        PortOpen result = m_inner->open(path);
        if (!result) {
            return result;
        }
        if (m_holders.fetch_add(1) != 0) {
            m_overlap.store(true);
        }
        return result;
    }
    void close() override {
        m_holders.fetch_sub(1);
        m_inner->close();
    }
    bool is_open() const override { return m_inner->is_open(); }
    void apply_line_settings() override { m_inner->apply_line_settings(); }
    bool write(const uint8_t* data, size_t size) override { return m_inner->write(data, size); }
    int read(uint8_t* data, size_t size) override { return m_inner->read(data, size); }

  private:
    std::unique_ptr<PortBackend> m_inner = make_posix_backend();
    std::atomic<int>& m_holders;
    std::atomic<bool>& m_overlap;
};

template <typename Done>
bool eventually(Done done) {
    for (int turn = 0; turn < 10000; ++turn) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

TEST(WorkerOverSim, WritesAndCommandsReachTheDeviceAndComeBackByThePoll) {
    sim::PortDirectory dir;
    testing::ScopedEnv ports{"ZORVANE_PORT_DIR", dir.path().c_str()};
    sim::SimulatedPort* device = dir.add(3, sim::DeviceConfig{DeviceModel::QM48, "77", {}});
    ASSERT_NE(device, nullptr);
    device->with_device([](auto& d) { d.set_status_byte(0, 0x00); });

    std::atomic<int> holders{0};
    std::atomic<bool> overlap{false};
    SerialPort port{std::make_unique<CountingBackend>(holders, overlap)};
    DeviceState state;
    state.g_com_port.store(3);
    state.g_device_kind.store(2);
    PollWorker worker(port, state);
    worker.start();

    const float pmax = device->with_device([](auto& d) { return float(d.value(0x52)); });
    ASSERT_TRUE(eventually([&] { return state.set_pmax.load() == pmax; }));

    // A setting write: the device takes it, the next pass reads it back.
    const SettingDecision write =
        write_setting(port, state, *find_setting("Pmax", Family::Qm), "4321 BA");
    EXPECT_TRUE(write.sent);
    EXPECT_TRUE(eventually([&] { return state.set_pmax.load() == 4321.0f; }));
    EXPECT_EQ(device->with_device([](auto& d) { return d.value(0x52); }), 4321);

    // The generation command, and the fixed value of the start-mode list.
    EXPECT_TRUE(send_action(port, state, cmd::kGenerationOn).sent);
    EXPECT_TRUE(write_fixed_u8(port, state, kEGenUbatWrite, 1).sent);
    EXPECT_TRUE(eventually(
        [&] { return state.qm_status1[2].load() == 1 && state.set_egen_ubat.load() == 1.0f; }));

    // Hand-overs at random moments of the passes.
    uint32_t gap = 3;
    for (int i = 0; i < 15; ++i) {
        gap = gap * 1103515245u + 12345u;
        std::this_thread::sleep_for(std::chrono::microseconds((gap >> 16) % 20000));
        PortLoan loan(port, state);
        EXPECT_TRUE(loan.opened());
    }
    worker.stop();
    EXPECT_FALSE(overlap.load());
    EXPECT_EQ(holders.load(), 0);
}

}  // namespace
}  // namespace zorvane
