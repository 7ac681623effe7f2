// The polling worker and the port hand-over, with real threads (run under the
// thread sanitizer in CI).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "device/handover.h"
#include "device/poll_cycle.h"
#include "device/poll_worker.h"
#include "device/setting_write.h"
#include "link/frame.h"
#include "scripted_port.h"
#include "sim/faults.h"
#include "sim_line.h"

namespace zorvane {
namespace {

using testing::SimLinePort;

// Waits (without asserting how long) until `done` holds, or gives up after
// a generous bound so that a broken worker fails the test instead of hanging.
template <typename Done>
bool eventually(Done done) {
    for (int turn = 0; turn < 20000; ++turn) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// Parks the worker and reads the device's log while the worker cannot touch it.
template <typename Read>
auto while_parked(DeviceState& state, Read read) {
    park_worker(state);
    auto value = read();
    release_worker(state);
    return value;
}

TEST(PollWorker, PortNeverOpenInBothThreadsUnderRepeatedHandOvers) {
    SimLinePort fake(DeviceModel::QM48);
    fake.line->keep_log = false;
    DeviceState state;
    state.g_com_port.store(4);
    state.g_device_kind.store(2);
    PollWorker worker(fake.port, state);
    worker.start();

    int borrowed = 0;
    uint32_t gap = 1;
    for (int i = 0; i < 2000; ++i) {
        {
            PortLoan loan(fake.port, state);
            borrowed += loan.opened();
            // Use the port as a write would, while the worker must stay away.
            std::array<uint8_t, kFrameBufferSize> buffer{};
            transact(fake.port, buffer, build_request(buffer, cmd::kStatus), 0);
        }
        // Vary the gap between loans around the worker's wait turn, so that
        // its look at the pause falls at every point of the window's raise
        // and wait, and it sometimes gets a pass in.
        gap = gap * 1103515245u + 12345u;
        std::this_thread::sleep_for(std::chrono::microseconds((gap >> 16) % 1200));
    }
    const int worker_opens =
        while_parked(state, [&] { return fake.line->opens.load(); }) - borrowed;
    RecordProperty("worker_passes_during_loans", worker_opens);
    worker.stop();

    EXPECT_EQ(borrowed, 2000);
    EXPECT_GT(worker_opens, 0);
    EXPECT_FALSE(fake.line->overlap.load());
    EXPECT_EQ(fake.line->holders.load(), 0);
    EXPECT_EQ(state.g_worker_idle.load(), 1);
    // The worker polled in between: the device's values arrived.
    EXPECT_EQ(state.set_egen_pmax.load(), fake.line->device.value(0x72));
}

TEST(PollWorker, APauseRaisedBeforeTheFirstPassIsAnswered) {
    SimLinePort fake;
    DeviceState state;
    state.g_com_port.store(1);
    state.g_poll_pause.store(1);
    PollWorker worker(fake.port, state);
    worker.start();
    park_worker(state);  // returns: the worker reports idle before any pass
    EXPECT_EQ(fake.line->opens.load(), 0);
    // A pause dropped by a plain store, not through release_worker, is still
    // seen by the sleeping worker.
    state.g_poll_pause.store(0);
    EXPECT_TRUE(eventually([&] { return fake.line->opens.load() > 0; }));
    worker.stop();
}

TEST(PollWorker, FamilyChoosesTheCycle) {
    for (int kind : {1, 2, 0}) {
        SimLinePort fake;
        DeviceState state;
        state.g_com_port.store(1);
        state.g_device_kind.store(kind);
        PollWorker worker(fake.port, state);
        worker.start();
        ASSERT_TRUE(eventually(
            [&] { return while_parked(state, [&] { return fake.line->requests(0x53) >= 6; }); }));
        worker.stop();
        const bool qm_cycle = fake.line->requests(0x58) > 0;
        EXPECT_EQ(qm_cycle, kind != 1) << kind;
    }
}

TEST(PollWorker, WithoutAPortItNeverStoresAndStopsAtOnce) {
    // No device known (COM0), and a port that will not open.
    for (int com : {0, 7}) {
        SimLinePort fake(DeviceModel::KX24);
        fake.line->fail_open = com != 0;
        DeviceState state;
        state.g_com_port.store(com);
        state.g_device_kind.store(1);
        PollWorker worker(fake.port, state);
        worker.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // A write still gets its turn, and finds the port closed.
        EXPECT_FALSE(write_setting(fake.port, state, *find_setting("Pmax", Family::Kx), "10").sent);
        worker.stop();
        EXPECT_EQ(fake.line->opens.load(), 0);
        EXPECT_TRUE(fake.line->device.received().empty());
        EXPECT_EQ(state.out_voltage.load(), 0.0f);
        EXPECT_EQ(state.g_worker_idle.load(), 1);
    }
}

TEST(PollWorker, APortThatFailsEveryTransactionEndsEachPassAtOnce) {
    // An adapter whose cable is cut: it opens, and every write fails.
    testing::ScriptedPort cut;
    cut.log->fail_write = true;
    std::atomic<int> notices{0};
    set_link_failure_handler([&notices](bool) { ++notices; });
    DeviceState state;
    state.g_com_port.store(1);
    state.g_device_kind.store(2);
    PollWorker worker(cut.port, state);
    worker.start();
    ASSERT_TRUE(
        eventually([&] { return while_parked(state, [&] { return cut.log->open_count >= 3; }); }));
    worker.stop();
    set_link_failure_handler(nullptr);
    // One transaction, one notification per opening: the pass ended at the
    // first failure instead of running its steps into the cut cable.
    EXPECT_EQ(static_cast<int>(cut.log->writes.size()), cut.log->open_count);
    EXPECT_EQ(notices.load(), cut.log->open_count);
    EXPECT_EQ(state.g_values_read.load(), 0);
    EXPECT_FALSE(cut.log->open);
}

TEST(PollWorker, StopEndsAPassInTheMiddle) {
    // A silent device whose reads take a while: a whole QM pass would be 162
    // requests; the stop comes after a handful.
    SimLinePort fake;
    fake.line->device.faults().add(sim::fault::silence());
    fake.line->read_delay = std::chrono::milliseconds(2);
    DeviceState state;
    state.g_com_port.store(1);
    state.g_device_kind.store(2);
    PollWorker worker(fake.port, state);
    worker.start();
    ASSERT_TRUE(eventually([&] { return fake.line->opens.load() > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    worker.stop();
    EXPECT_FALSE(worker.running());
    EXPECT_LT(fake.line->device.received().size(), 26u * 6 + 6);
    EXPECT_FALSE(fake.port.is_open());
    EXPECT_EQ(state.g_worker_idle.load(), 1);
    worker.stop();  // a second stop does nothing
}

TEST(PollWorker, APauseDuringAPassLetsThePassFinish) {
    SimLinePort fake(DeviceModel::KX24);
    fake.line->read_delay = std::chrono::microseconds(300);
    DeviceState state;
    state.g_com_port.store(1);
    state.g_device_kind.store(1);
    PollWorker worker(fake.port, state);
    worker.start();
    ASSERT_TRUE(eventually([&] { return fake.line->opens.load() > 0; }));
    park_worker(state);
    // Parked: every pass that began has sent all of its requests.
    const size_t writes = fake.line->device.received().size();
    const int opens = fake.line->opens.load();
    EXPECT_EQ(writes, static_cast<size_t>(opens) * 15);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(fake.line->opens.load(), opens);  // no pass while paused
    release_worker(state);
    EXPECT_TRUE(eventually(
        [&] { return while_parked(state, [&] { return fake.line->opens.load() > opens; }); }));
    worker.stop();
}

}  // namespace
}  // namespace zorvane
