// The cable pulled in the middle of a pass, with the worker polling the
// simulated device through the real serial backend: every transaction that
// fails from then on is reported once, each report asks for the quit (the
// window has set its thread id), nothing stored changes, the worker goes on
// trying a port that is gone without a further report, and it stops when
// asked.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "counting_backend.h"
#include "device/poll_worker.h"
#include "pty_pair.h"
#include "sim_rig.h"

namespace zorvane {
namespace {

using testing::eventually;

TEST(HangUp, InTheMiddleOfAPassEveryFailureIsReportedOnceAndTheWorkerStops) {
    struct Case {
        DeviceModel model;
        uint8_t at;  // the request whose reply never comes: the line drops
    };
    for (const Case c : {Case{DeviceModel::KX24, 0x4E}, Case{DeviceModel::KX24, cmd::kCounters},
                         Case{DeviceModel::QM48, 0x62}, Case{DeviceModel::QM48, cmd::kStatus}}) {
        const bool qm = sim::is_qm(c.model);
        SCOPED_TRACE(std::string(qm ? "QM" : "KX") + " at " + std::to_string(c.at));
        sim::PortDirectory dir;
        sim::SimulatedPort* device = dir.add(testing::kSimPort, {c.model, "12345", {}});
        ASSERT_NE(device, nullptr);
        device->with_device([](sim::SimDevice& d) { d.set_counter(0, 17); });
        testing::ScopedEnv env("ZORVANE_PORT_DIR", dir.path().c_str());

        auto counts = std::make_shared<testing::PortCounts>();
        SerialPort port(std::make_unique<testing::CountingBackend>(make_posix_backend(), counts));
        DeviceState state;
        state.g_com_port.store(testing::kSimPort);
        state.g_device_kind.store(qm ? 2 : 1);
        // The window is up: transact asks the window's thread of the
        // process-wide record to quit.
        device_state.g_main_thread_id.store(1);

        std::atomic<int> reports{0};
        std::atomic<int> quits{0};
        const std::filesystem::path link = dir.path() / ("COM" + std::to_string(testing::kSimPort));
        set_link_failure_handler([&](bool quit) {
            // The adapter's node goes with the cable; gone before the worker
            // lets go of the terminal, so no other terminal can take its name.
            if (reports++ == 0) {
                std::error_code ec;
                std::filesystem::remove(link, ec);
            }
            quits += quit ? 1 : 0;
        });

        PollWorker worker(port, state);
        worker.start();
        // A whole pass first: the counters are its last step.
        ASSERT_TRUE(eventually([&] { return state.lifetime_counters.snapshot()[0] == 17; }));
        const testing::StateImage before = testing::capture(state);

        device->inject(sim::fault::hang_up(c.at));
        EXPECT_TRUE(eventually([&] { return reports.load() > 0; }));
        // The pass runs out on failing transactions; the worker then finds
        // the port gone and keeps trying it, quietly.
        const int refused = counts->refused_opens.load();
        EXPECT_TRUE(eventually([&] { return counts->refused_opens.load() >= refused + 2; }));
        worker.stop();
        EXPECT_FALSE(worker.running());
        EXPECT_FALSE(port.is_open());

        EXPECT_EQ(reports.load(), counts->failed_transactions.load());
        EXPECT_EQ(quits.load(), reports.load());
        // Device values did not change: whatever the pass stored before the
        // line dropped is what was there, and nothing after it was stored.
        EXPECT_EQ(testing::mismatches(testing::capture(state), before, before, {}), "");
        set_link_failure_handler(nullptr);
        device_state.g_main_thread_id.store(0);
    }
}

}  // namespace
}  // namespace zorvane
