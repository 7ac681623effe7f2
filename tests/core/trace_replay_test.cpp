// Capture and replay end to end: zorvane-cli's commands run against
// simulated units on pseudo-terminals with a trace file as the wire's
// listener, then against the captured units served from that trace; what
// the tool makes of them must agree value for value.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "link/discovery.h"
#include "record/wire_trace.h"
#include "scoped_env.h"
#include "sim/port_directory.h"
#include "state/device_state.h"

namespace zorvane {
namespace {

namespace fs = std::filesystem;

void fresh_state() {
    device_state.clear_device_values();
    device_state.g_values_read.store(0);
    device_state.g_device_answering.store(1);
    device_state.g_last_answer_ms.store(0);
    device_state.g_main_thread_id.store(0);
}

// The poll objects of `passes` passes, without their time of last answer.
std::string poll_objects(int passes) {
    fresh_state();
    std::string count = std::to_string(passes);
    std::string flag = "--count";
    char* argv[] = {flag.data(), count.data()};
    ::testing::internal::CaptureStdout();
    const int status = cli::cmd_poll(2, argv);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    return std::regex_replace(out, std::regex(R"("last_answer":"[^"]*")"), "");
}

std::vector<std::string> search_listing() {
    fresh_state();
    std::vector<std::string> lines;
    for (const FoundDevice& device : scan_devices(device_state)) {
        lines.push_back(cli::scan_listing_line(device));
    }
    return lines;
}

class TraceReplay : public ::testing::Test {
  protected:
    void TearDown() override {
        set_wire_listener(nullptr);
        fresh_state();
        fs::remove(trace_path);
    }
    void start_capture() {
        std::string error;
        auto trace = TraceFile::open(trace_path.string(), false, error);
        ASSERT_TRUE(trace) << error;
        set_wire_listener(trace);
    }
    // The captured unit of COMn on COMn of a second port directory, which
    // the tool then searches instead.
    void serve_replays(std::initializer_list<int> com_ports) {
        set_wire_listener(nullptr);
        for (const int com : com_ports) {
            std::string error;
            auto unit = sim::load_replay(trace_path.string(), com, error);
            ASSERT_TRUE(unit) << error;
            ASSERT_NE(replayed.add_replay(com, unit), nullptr);
        }
        testing::set_env("ZORVANE_PORT_DIR", replayed.path().c_str());
    }

    sim::PortDirectory captured;
    sim::PortDirectory replayed;
    testing::ScopedEnv env{"ZORVANE_PORT_DIR", captured.path().c_str()};
    fs::path trace_path =
        fs::temp_directory_path() / ("zorvane-replay-" + std::to_string(::getpid()) + ".trace");
};

TEST_F(TraceReplay, PollOfAReplayedQm48AgreesValueForValue) {
    sim::SimulatedPort* qm = captured.add(3, {DeviceModel::QM48, "00042", {}});
    ASSERT_NE(qm, nullptr);
    start_capture();
    const std::string first = poll_objects(1);
    // A second run into the same trace, the unit changed meanwhile: the
    // replay must serve the runs in their order.
    qm->with_device([](sim::SimDevice& d) { d.set_value(0x41, 2412, 0); });
    const std::string second = poll_objects(1);
    ASSERT_NE(first, second);
    ASSERT_NE(second.find("\"out_voltage\":241.2"), std::string::npos) << second;

    serve_replays({3});
    EXPECT_EQ(poll_objects(1), first);
    EXPECT_EQ(poll_objects(1), second);
}

TEST_F(TraceReplay, PollOfAReplayedKx24AgreesAndTakesWrites) {
    ASSERT_NE(captured.add(5, {DeviceModel::KX24, "777", uint16_t{265}}), nullptr);
    start_capture();
    const std::string polled = poll_objects(2);
    ASSERT_NE(polled.find("\"bat_voltage\":26.5"), std::string::npos) << polled;

    serve_replays({5});
    EXPECT_EQ(poll_objects(2), polled);
    // A setting written to the captured unit is what it holds afterwards.
    ASSERT_TRUE(cli::search_polled_device());
    EXPECT_EQ(cli::set_after_search("UbatLow", "26,5"), 0);
}

TEST_F(TraceReplay, ACapturedSearchReplaysAsASearch) {
    ASSERT_NE(captured.add(3, {DeviceModel::QM48, "00042", {}}), nullptr);
    ASSERT_NE(captured.add(5, {DeviceModel::KX24, std::nullopt, {}}), nullptr);
    ASSERT_NE(captured.add_silent(7), nullptr);
    start_capture();
    const std::vector<std::string> found = search_listing();
    ASSERT_EQ(found, (std::vector<std::string>{"COM3\tQM-48. S/N: 00042",
                                               "COM5\tKX-24. S/N: не назначен"}));

    serve_replays({3, 5});
    EXPECT_EQ(search_listing(), found);
}

}  // namespace
}  // namespace zorvane
