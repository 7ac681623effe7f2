// A session over a simulated device that is unplugged and plugged in again:
// values not current during the outage, one event per outage, polling
// resumed for the same unit only, the unit followed to another port.
#include "device/device_session.h"

#include <gtest/gtest.h>

#include <thread>

#include "scoped_env.h"
#include "sim/port_directory.h"

namespace zorvane {
namespace {

using Kind = SessionEvent::Kind;
using namespace std::chrono_literals;

sim::DeviceConfig unit(DeviceModel model, const char* serial) {
    return sim::DeviceConfig{.model = model, .serial = serial, .battery = {}};
}

struct SessionRig {
    sim::PortDirectory dir;
    testing::ScopedEnv env{"ZORVANE_PORT_DIR", dir.path().c_str()};
    DeviceState state;
    SerialPort port{make_posix_backend()};
    std::vector<SessionEvent> events;
    int passes = 0;
    bool current_at_each_pass = true;

    std::unique_ptr<DeviceSession> start(int com, bool follow = false) {
        PortInfo target{com, resolve_port_path(com), {}, {}};
        SerialPort probe_port(make_posix_backend());
        const auto found = probe(probe_port, target).device;
        EXPECT_TRUE(found);
        auto session = std::make_unique<DeviceSession>(
            port, state, *found, SessionOptions{.follow_serial = follow, .reopen_interval = 20ms});
        session->on_event([this](const SessionEvent& e) { events.push_back(e); });
        session->on_pass([this](const DeviceState& s) {
            ++passes;
            current_at_each_pass = current_at_each_pass && s.g_values_read.load() != 0;
        });
        return session;
    }
    std::vector<Kind> kinds() const {
        std::vector<Kind> out;
        for (const SessionEvent& e : events) out.push_back(e.kind);
        return out;
    }
    // Steps until `done`, at most `limit` steps.
    template <typename Done>
    bool step_until(DeviceSession& session, Done done, int limit = 200) {
        for (int i = 0; i < limit && !done(); ++i) session.step();
        return done();
    }
};

TEST(DeviceSession, UnplugAndReplugOfTheSameUnit) {
    SessionRig rig;
    ASSERT_TRUE(rig.dir.add(3, unit(DeviceModel::KX24, "77")));
    auto session = rig.start(3);
    EXPECT_EQ(session->run(2), 2);
    EXPECT_TRUE(rig.state.values_current());

    rig.dir.unplug(3);
    EXPECT_EQ(session->step(), DeviceSession::Step::Outage);
    EXPECT_FALSE(rig.state.values_current()) << "old values look fresh";
    EXPECT_FALSE(session->link_up());
    // Some tries with nothing there: still one event for the whole outage.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(session->step(), DeviceSession::Step::Outage);
    EXPECT_EQ(rig.kinds(), std::vector<Kind>{Kind::LinkLost});
    EXPECT_EQ(rig.passes, 2);

    ASSERT_TRUE(rig.dir.add(3, unit(DeviceModel::KX24, "77")));
    ASSERT_TRUE(rig.step_until(*session, [&] { return rig.passes == 3; }));
    EXPECT_EQ(rig.kinds(), (std::vector<Kind>{Kind::LinkLost, Kind::Resumed}));
    EXPECT_TRUE(rig.state.values_current());
    EXPECT_TRUE(rig.current_at_each_pass);

    // A second outage is a second event.
    rig.dir.unplug(3);
    session->step();
    EXPECT_EQ(rig.kinds().size(), 3u);
    EXPECT_EQ(rig.kinds().back(), Kind::LinkLost);
}

TEST(DeviceSession, AnotherDeviceOnThePortIsReportedOnceAndNotPolled) {
    SessionRig rig;
    ASSERT_TRUE(rig.dir.add(3, unit(DeviceModel::QM48, "A1")));
    auto session = rig.start(3);
    ASSERT_EQ(session->run(1), 1);

    rig.dir.unplug(3);
    session->step();
    // Same model, another serial number: not the unit.
    ASSERT_TRUE(rig.dir.add(3, unit(DeviceModel::QM48, "B2")));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(session->step(), DeviceSession::Step::Outage);
    ASSERT_EQ(rig.kinds(), (std::vector<Kind>{Kind::LinkLost, Kind::OtherDevice}));
    EXPECT_EQ(rig.events[1].device.caption, "QM-48. S/N: B2");
    EXPECT_EQ(rig.passes, 1);
    EXPECT_FALSE(rig.state.values_current());

    rig.dir.unplug(3);
    ASSERT_TRUE(rig.dir.add(3, unit(DeviceModel::QM48, "A1")));
    ASSERT_TRUE(rig.step_until(*session, [&] { return rig.passes == 2; }));
    EXPECT_EQ(rig.kinds().back(), Kind::Resumed);
}

TEST(DeviceSession, FollowSerialFindsTheUnitOnAnotherPort) {
    SessionRig rig;
    ASSERT_TRUE(rig.dir.add(33, unit(DeviceModel::KX48, "F1")));
    auto session = rig.start(33, /*follow=*/true);
    ASSERT_EQ(session->run(1), 1);

    rig.dir.unplug(33);
    session->step();
    ASSERT_TRUE(rig.dir.add(34, unit(DeviceModel::KX48, "F1")));  // the adapter renumbered
    ASSERT_TRUE(rig.step_until(*session, [&] { return rig.passes == 2; }));
    EXPECT_EQ(rig.kinds(), (std::vector<Kind>{Kind::LinkLost, Kind::Moved, Kind::Resumed}));
    EXPECT_EQ(session->device().port, 34);
    EXPECT_EQ(rig.state.g_com_port.load(), 34);
}

TEST(DeviceSession, AStopEndsARunThatWaitsOutAnOutage) {
    SessionRig rig;
    ASSERT_TRUE(rig.dir.add(3, unit(DeviceModel::KX24, "S")));
    auto session = rig.start(3);
    std::stop_source stop;
    std::jthread unplug_then_stop([&] {
        while (rig.state.g_values_read.load() == 0) std::this_thread::sleep_for(5ms);
        rig.dir.unplug(3);
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    session->run(0, stop.get_token());  // returns: nothing else ends a run of 0 passes
    EXPECT_FALSE(session->link_up());
}

}  // namespace
}  // namespace zorvane
