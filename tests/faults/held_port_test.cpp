// The port held by another program: the terminal is taken exclusively
// (TIOCEXCL) by someone else. The worker shows nothing, keeps trying, and
// polls as soon as the other program lets go; a setting typed meanwhile is
// silently not written.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>

#include "counting_backend.h"
#include "device/poll_worker.h"
#include "device/setting_write.h"
#include "link/frame.h"
#include "no_sys_admin.h"
#include "pty_pair.h"
#include "scoped_env.h"

namespace zorvane {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

bool contains(const std::vector<uint8_t>& bytes, std::initializer_list<uint8_t> what) {
    return std::search(bytes.begin(), bytes.end(), what.begin(), what.end()) != bytes.end();
}

TEST(HeldPort, RetriedWithoutAMessageUntilTheOtherProgramLetsGo) {
    testing::PtyPair pty(7);
    ASSERT_TRUE(pty.ok());
    testing::ScopedEnv port_dir("ZORVANE_PORT_DIR", pty.dir().c_str());
    std::atomic<int> messages{0};
    set_link_failure_handler([&messages](bool) { ++messages; });

    auto counts = std::make_shared<testing::PortCounts>();
    SerialPort port(std::make_unique<testing::CountingBackend>(make_posix_backend(), counts));
    DeviceState state;
    state.g_com_port.store(7);
    state.g_device_kind.store(1);
    state.g_main_thread_id.store(1);
    state.g_values_read.store(1);     // read before the other program took the port
    state.set_ubat_low.store(22.0f);  // a KX-24's battery thresholds, as read
    state.set_ubat_min.store(21.0f);
    state.set_ubat_min_on.store(24.0f);

    // The other program: it has the terminal open and exclusive.
    ASSERT_EQ(::ioctl(pty.slave(), TIOCEXCL), 0);
    {
        testing::NoSysAdmin as_a_user;
        ASSERT_FALSE(port.open(7)) << "an exclusive terminal opened a second time";

        PollWorker worker(port, state);
        worker.start();
        const int before = counts->refused_opens.load();
        EXPECT_TRUE(eventually([&] { return counts->refused_opens.load() >= before + 3; }));
        EXPECT_EQ(counts->writes.load(), 0);

        // A setting left meanwhile goes nowhere, quietly, and the worker is
        // given back its turn.
        const SettingParam* ubat_low = find_setting("UbatLow", Family::Kx);
        ASSERT_NE(ubat_low, nullptr);
        const SettingDecision d = write_setting(port, state, *ubat_low, "26.5");
        EXPECT_EQ(d.kind, SettingDecision::Kind::Send);
        EXPECT_FALSE(d.sent);
        EXPECT_EQ(state.g_poll_pause.load(), 0);
        EXPECT_TRUE(pty.receive(1, 100ms).empty());

        // The other program lets go: the next try gets in and polls.
        ASSERT_EQ(::ioctl(pty.slave(), TIOCNXCL), 0);
        std::vector<uint8_t> seen;
        EXPECT_TRUE(eventually([&] {
            const auto more = pty.receive(64, 20ms);
            seen.insert(seen.end(), more.begin(), more.end());
            return contains(seen, {kFrameStart, 0x41, kFrameEnd});
        }));
        worker.stop();
    }
    EXPECT_EQ(messages.load(), 0);
    EXPECT_EQ(counts->failed_transactions.load(), 0);
    EXPECT_FALSE(port.is_open());
    set_link_failure_handler(nullptr);
}

}  // namespace
}  // namespace zorvane
