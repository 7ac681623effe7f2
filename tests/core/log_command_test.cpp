// zorvane-cli log over a simulated device on a pseudo-terminal: the rows
// hold what the device holds, one per pass, and an unplug in the middle of
// a recording leaves one gap row and no stale rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/cli/cli_commands.h"
#include "device/poll_cycle.h"
#include "record/csv_recorder.h"
#include "scoped_env.h"
#include "sim/port_directory.h"
#include "state/variables.h"

namespace zorvane {
namespace {

constexpr int kPort = 4;

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, sep)) {
        out.push_back(part);
    }
    if (!text.empty() && text.back() == sep) {
        // getline drops an empty last cell
        if (sep == ',') {
            out.push_back("");
        }
    }
    return out;
}

std::vector<std::string> lines_of(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return split(text.str(), '\n');
}

int run_log(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    return cli::cmd_log(static_cast<int>(argv.size()), argv.data());
}

template <typename Done>
bool eventually(Done done) {
    for (int turn = 0; turn < 10000 && !done(); ++turn) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

class LogCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        path = std::filesystem::temp_directory_path() /
               ("zorvane-log-" + std::to_string(::getpid()) + ".csv");
        std::filesystem::remove(path);
        device_state.clear_device_values();
    }
    void TearDown() override { std::filesystem::remove(path); }

    sim::PortDirectory dir;
    testing::ScopedEnv env{"ZORVANE_PORT_DIR", dir.path().c_str()};
    std::filesystem::path path;
};

TEST_F(LogCommand, RowsHoldWhatTheSimulatedDeviceHolds) {
    for (const DeviceModel model : {DeviceModel::KX24, DeviceModel::QM48}) {
        const bool qm = sim::is_qm(model);
        SCOPED_TRACE(qm ? "QM" : "KX");
        dir.clear();
        std::filesystem::remove(path);
        device_state.clear_device_values();
        sim::SimulatedPort* device = dir.add(kPort, {model, "12345", uint16_t{265}});
        ASSERT_NE(device, nullptr);

        ASSERT_EQ(run_log({path.string(), "--count", "3"}), 0);

        const auto columns = record_columns(qm ? 2 : 1);
        const std::vector<std::string> lines = lines_of(path);
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], CsvRecorder::header(columns));
        // Only the family's own values: a KX has no battery temperature,
        // status bits are named.
        EXPECT_EQ(lines[0].find(",bat_temperature,") != std::string::npos, qm);
        EXPECT_NE(lines[0].find(",generation,"), std::string::npos);

        // The same device read by one pass of our own, for comparison.
        DeviceState state;
        SerialPort port(make_posix_backend());
        ASSERT_TRUE(port.open(kPort));
        if (qm) {
            poll_cycle_qm(port, state);
        } else {
            poll_cycle_kx(port, state);
        }
        port.close();
        const Sample expected = take_sample(columns, state, 0, true);
        for (size_t row = 1; row < lines.size(); ++row) {
            const std::vector<std::string> cells = split(lines[row], ',');
            ASSERT_EQ(cells.size(), columns.size() + 3) << lines[row];
            EXPECT_EQ(cells[2], "ok");
            EXPECT_GT(parse_iso_utc_ms(cells[0]), 0);
            for (size_t c = 0; c < columns.size(); ++c) {
                // The lifetime counters advance with time.
                if (std::any_of(counter_table().begin(), counter_table().end(),
                                [&](const CounterDef& k) { return columns[c].name == k.name; })) {
                    continue;
                }
                if (columns[c].single) {
                    EXPECT_EQ(std::stof(cells[c + 3]), static_cast<float>(expected.values[c]))
                        << columns[c].name;
                } else {
                    EXPECT_EQ(std::stod(cells[c + 3]), expected.values[c]) << columns[c].name;
                }
            }
            EXPECT_EQ(cells[3 + 3], "26.5");  // bat_voltage, as the simulator was set
        }
    }
}

TEST_F(LogCommand, AnUnplugLeavesOneGapRowAndTheRecordingGoesOn) {
    const sim::DeviceConfig config{DeviceModel::KX24, "12345", {}};
    sim::SimulatedPort* device = dir.add(kPort, config);
    ASSERT_NE(device, nullptr);

    int status = -1;
    std::thread log([&] { status = run_log({path.string(), "--count", "4"}); });
    EXPECT_TRUE(eventually([&] { return lines_of(path).size() >= 3; }));
    device->hang_up();
    EXPECT_TRUE(eventually([&] {
        const auto lines = lines_of(path);
        return !lines.empty() && lines.back().find(",lost,") != std::string::npos;
    }));
    // Long enough for several attempts to reopen: still one gap row.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    dir.clear();
    ASSERT_NE(dir.add(kPort, config), nullptr);
    log.join();
    EXPECT_EQ(status, 0);

    const std::vector<std::string> lines = lines_of(path);
    int ok = 0;
    int lost = 0;
    int lost_at = -1;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].find(",ok,") != std::string::npos) {
            ++ok;
        } else if (lines[i].find(",lost,") != std::string::npos) {
            ++lost;
            lost_at = static_cast<int>(i);
            // A gap row holds no values.
            EXPECT_EQ(lines[i].find_first_not_of(',', lines[i].find(",lost,") + 6),
                      std::string::npos);
        }
    }
    EXPECT_EQ(ok, 4);
    EXPECT_EQ(lost, 1);
    EXPECT_GT(lost_at, 1);
    EXPECT_LT(lost_at, static_cast<int>(lines.size()) - 1);
}

TEST_F(LogCommand, AFileOfAnotherRecordingIsRefused) {
    ASSERT_NE(dir.add(kPort, {DeviceModel::KX24, "12345", {}}), nullptr);
    std::ofstream(path) << "time,elapsed_s,link,something_else\n";
    EXPECT_EQ(run_log({path.string(), "--count", "1"}), 2);
    EXPECT_EQ(lines_of(path), std::vector<std::string>{"time,elapsed_s,link,something_else"});
    EXPECT_EQ(run_log({"--count", "1"}), 2);  // no file named: usage
}

}  // namespace
}  // namespace zorvane
