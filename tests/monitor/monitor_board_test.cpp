// The monitor's board of units as another output in the same process reads
// it: each unit's values and freshness, and tasks run on the unit's own
// thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include "../faults/pty_pair.h"
#include "app/monitor/monitor.h"
#include "broker_rig.h"
#include "sim/port_directory.h"

namespace zorvane::testing {
namespace {

namespace fs = std::filesystem;

bool fresh(const monitor::UnitBoard& board, const std::string& id) {
    const std::optional<monitor::UnitView> unit = board.unit(id);
    return unit && unit->values_current;
}

// The thread a task posted to unit `id` runs on.
std::thread::id thread_of(const monitor::UnitBoard& board, const std::string& id) {
    std::promise<std::thread::id> ran;
    std::future<std::thread::id> id_of = ran.get_future();
    EXPECT_TRUE(board.post(id, [&ran] { ran.set_value(std::this_thread::get_id()); }));
    EXPECT_EQ(id_of.wait_for(kPatience), std::future_status::ready);
    return id_of.get();
}

// The result a command handed to the board replies with.
std::string result_of(const monitor::UnitBoard& board, const std::string& id,
                      const std::string& name, const std::string& text) {
    auto result = std::make_shared<std::promise<std::string>>();
    std::future<std::string> json = result->get_future();
    EXPECT_TRUE(board.command(id, name, text,
                              [result](const std::string& reply) { result->set_value(reply); }));
    return json.wait_for(kPatience) == std::future_status::ready ? json.get() : "";
}

TEST(MonitorBoard, UnitsSideBySideFreshOrNot) {
    char pattern[] = "/tmp/zorvane-board-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    sim::PortDirectory ports;
    ASSERT_TRUE(ports.add(3, {DeviceModel::QM48, "00042", 523}));
    ASSERT_TRUE(ports.add(4, {DeviceModel::QM48, "00043", {}}));
    setenv("ZORVANE_PORT_DIR", ports.path().c_str(), 1);
    Broker broker(dir);
    monitor::UnitBoard board;
    monitor::MonitorOptions options;
    ASSERT_TRUE(monitor::parse_broker_url(broker.url(), options.broker));
    options.instance = "t5";
    options.interval_ms = 1000;
    options.board = &board;
    options.allowed = {"UbatLow"};
    std::stop_source stop;
    std::jthread run([&] { EXPECT_EQ(monitor::run_monitor(options, stop.get_token()), 0); });

    ASSERT_TRUE(eventually([&] { return fresh(board, "qm48_00042") && fresh(board, "qm48_00043"); },
                           kPatience));
    EXPECT_FLOAT_EQ(board.unit("qm48_00042")->state->bat_voltage.load(), 52.3f);
    EXPECT_EQ(board.units().size(), 2u);
    // Each unit's tasks run on its own thread, neither the caller's nor the
    // other unit's.
    const std::thread::id first = thread_of(board, "qm48_00042");
    const std::thread::id second = thread_of(board, "qm48_00043");
    EXPECT_NE(first, second);
    EXPECT_NE(first, std::this_thread::get_id());
    EXPECT_NE(first, run.get_id());
    EXPECT_FALSE(board.post("qm48_99999", [] {}));

    // Commands through the board: checked, written and read back as the
    // broker's, their results to the asker.
    EXPECT_NE(result_of(board, "qm48_00043", "Pmax", "100").find("\"result\":\"refused\""),
              std::string::npos);
    EXPECT_NE(result_of(board, "qm48_00043", "UbatLow", "45.5").find("\"result\":\"confirmed\""),
              std::string::npos);
    EXPECT_FLOAT_EQ(board.unit("qm48_00043")->state->set_ubat_low.load(), 45.5f);

    // Unplugged: its values are no longer fresh; the other's stay so.
    ports.unplug(3);
    EXPECT_TRUE(eventually([&] { return !fresh(board, "qm48_00042"); }, kPatience));
    EXPECT_TRUE(fresh(board, "qm48_00043"));

    // Over: nothing is served from records that are gone.
    stop.request_stop();
    run.join();
    EXPECT_TRUE(board.units().empty());
    EXPECT_FALSE(board.post("qm48_00043", [] {}));
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace zorvane::testing
