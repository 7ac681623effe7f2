// zorvane-cli judges what a write means before it sends it: to the unit meant,
// identified without guessing, with a value its battery class survives, in
// the order of its thresholds, neither negative nor finer than it keeps.
// Simulated devices on pseudo-terminals, through the commands' own code.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "app/cli/cli_options.h"
#include "link/frame.h"
#include "scoped_env.h"
#include "sim/faults.h"
#include "sim/port_directory.h"
#include "state/device_state.h"

namespace zorvane {
namespace {

using Frames = std::vector<std::vector<uint8_t>>;

constexpr const char* kKx24File =
    "[device]\nformat = 1\nmodel = KX-24\n[settings]\n"
    "UbatLow = 22.0\nUbatMin = 21.0\nUbatMinOn = 23.0\n";
constexpr const char* kQm24File =
    "[device]\nformat = 1\nmodel = QM-24\n[settings]\nUbatLow = 22.0\n";

class WriteMeaning : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        device_state.clear_device_values();
        device_state.g_values_read.store(0);
        device_state.g_device_answering.store(1);
        device_state.g_main_thread_id.store(0);
        store_identification(device_state, {});
        cli::set_common_options({});
    }

    sim::SimulatedPort* add(int com, DeviceModel model, const char* serial,
                            std::optional<uint16_t> battery = {}) {
        return m_ports.add(com, {.model = model, .serial = serial, .battery = battery});
    }

    // One zorvane-cli command, its standard output and error captured.
    int run(int (*command)(int, char**), std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = command(static_cast<int>(argv.size()), argv.data());
        out = ::testing::internal::GetCapturedStdout();
        err = ::testing::internal::GetCapturedStderr();
        return status;
    }
    int set(std::vector<std::string> args) { return run(cli::cmd_set, std::move(args)); }

    std::string file(const char* text) {
        const std::string path = (m_ports.path() / "unit.set").string();
        std::ofstream(path) << text;
        return path;
    }

    static void choose(std::optional<std::string> port, std::optional<std::string> serial) {
        cli::CommonOptions options;
        options.port = std::move(port);
        options.serial = std::move(serial);
        cli::set_common_options(options);
    }

    // The writes and actions a device received since the last look (its
    // reads left out).
    static Frames writes(sim::SimulatedPort* device) {
        Frames out;
        for (const auto& frame : device->received()) {
            if (frame.size() > 3 || (frame.size() == 3 && (frame[1] == cmd::kGenerationOn ||
                                                           frame[1] == cmd::kGenerationOff)))
                out.push_back(frame);
        }
        device->clear_log();
        return out;
    }
    static uint16_t held(sim::SimulatedPort* device, uint8_t read_code) {
        return device->with_device([&](sim::SimDevice& d) { return d.value(read_code); });
    }

    sim::PortDirectory m_ports;
    testing::ScopedEnv m_env{"ZORVANE_PORT_DIR", m_ports.path().c_str()};
    std::string out;
    std::string err;
};

// What was seen: one lost status reply made a QM-48 a KX-24, and a KX-24
// file then loaded onto it with --yes alone.
TEST_F(WriteMeaning, OneLostStatusReplyLeavesTheModelAsItIs) {
    sim::SimulatedPort* qm = add(3, DeviceModel::QM48, "00042");
    qm->inject(sim::fault::drop_status_reply(1));
    EXPECT_EQ(run(cli::cmd_settings, {"load", file(kKx24File), "--yes"}), 2) << err;
    EXPECT_NE(err.find("QM-48. S/N: 00042"), std::string::npos) << err;
    EXPECT_NE(err.find("the file is for a KX-24, the device is a QM-48"), std::string::npos) << err;
    EXPECT_EQ(writes(qm), Frames{});
}

// A status reply that never passes: the unit is polled under the search's
// fallback, and nothing at all is written to it, each refusal saying why.
TEST_F(WriteMeaning, AUnitWhoseModelIsNotEstablishedGetsNoWrite) {
    sim::SimulatedPort* qm = add(3, DeviceModel::QM48, "00042");
    // Bytes that are no status reply, each time it is asked.
    qm->inject(sim::fault::garbage(cmd::kStatus));
    EXPECT_EQ(set({"UbatLow", "22.5"}), 2);
    EXPECT_NE(err.find("model is not established"), std::string::npos) << err;
    EXPECT_NE(err.find("модель устройства не установлена"), std::string::npos) << err;
    EXPECT_EQ(run(cli::cmd_gen, {"off"}), 2) << err;
    EXPECT_EQ(run(cli::cmd_settings, {"load", file(kKx24File), "--yes", "--force"}), 2);
    EXPECT_NE(err.find("check the cable and search again"), std::string::npos) << err;
    EXPECT_EQ(writes(qm), Frames{});
}

// One flipped bit in the battery reply (48.7 V read as 23.1 V) made the unit
// a QM-24, and a QM-24 file loaded without --force.
TEST_F(WriteMeaning, BatteryReadingsThatDisagreeLeaveTheClassOpen) {
    sim::SimulatedPort* qm = add(3, DeviceModel::QM48, "00042", 487);
    qm->inject(sim::fault::flip_battery_bit());
    const std::string path = file(kQm24File);
    EXPECT_EQ(run(cli::cmd_settings, {"load", path, "--yes"}), 2);
    EXPECT_NE(err.find("the battery read 48.7 V and 23.1 V"), std::string::npos) << err;
    EXPECT_NE(err.find("--force"), std::string::npos) << err;
    qm->inject(sim::fault::flip_battery_bit());  // each command searches anew
    EXPECT_EQ(set({"UbatLow", "45.5"}), 2);
    EXPECT_NE(err.find("48.7 В и 23.1 В"), std::string::npos) << err;
    EXPECT_EQ(writes(qm), Frames{});
}

// A 48 V unit whose bank is flat (25 V) reads as a 24 V one; its thresholds
// say otherwise, so its class is not taken, until the technician overrides.
TEST_F(WriteMeaning, AFlatBankIsCheckedAgainstTheThresholdsTheUnitHolds) {
    sim::SimulatedPort* qm = add(3, DeviceModel::QM48, "00042", 250);
    const std::string path = file(kQm24File);
    EXPECT_EQ(run(cli::cmd_settings, {"load", path, "--yes"}), 2);
    EXPECT_NE(err.find("the battery reads 25.0 V (24 V class) but the unit holds "
                       "UbatLow/UbatMin/UbatMinOn 44.0/42.0/48.0 V (48 V class)"),
              std::string::npos)
        << err;
    EXPECT_EQ(writes(qm), Frames{});
    EXPECT_EQ(run(cli::cmd_settings, {"load", path, "--yes", "--force"}), 0) << err;
    EXPECT_EQ(held(qm, 0x4E), 220);
}

// What was seen: UbatLow 99 on a QM-48 and Pmax 0 were written.
TEST_F(WriteMeaning, ValuesOutsideTheClassSpanAreRefusedUnlessForced) {
    sim::SimulatedPort* qm = add(3, DeviceModel::QM48, "00042");
    EXPECT_EQ(set({"UbatLow", "99"}), 2);
    EXPECT_NE(err.find("UbatLow = 99.0: вне диапазона для устройства 48 В от 36 до 64 V"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("--force writes it all the same"), std::string::npos) << err;
    EXPECT_EQ(set({"Pmax", "0"}), 2);
    EXPECT_EQ(writes(qm), Frames{});
    EXPECT_EQ(set({"UbatLow", "46", "--force"}), 0) << err;
    EXPECT_EQ(held(qm, 0x4E), 460);
    // What a technician does every day stays as it was.
    EXPECT_EQ(set({"UbatLow", "44.5"}), 0) << err;
}

TEST_F(WriteMeaning, AThresholdThatWouldInvertItsPairIsRefusedNamingBoth) {
    sim::SimulatedPort* kx = add(5, DeviceModel::KX24, "K1");
    EXPECT_EQ(set({"UbatMin", "22.0"}), 2);  // UbatLow holds 22.0
    EXPECT_NE(err.find("UbatMin = 22.0 не ниже UbatLow = 22.0"), std::string::npos) << err;
    EXPECT_EQ(set({"UbatMinOn", "20.5"}), 2);  // UbatMin holds 21.0
    EXPECT_NE(err.find("UbatMinOn = 20.5 не выше UbatMin = 21.0"), std::string::npos) << err;
    EXPECT_EQ(writes(kx), Frames{});
    EXPECT_EQ(set({"UbatLow", "26.5"}), 0) << err;  // the document's own example
}

// What was seen: -0.09 sent 0 V; 44.55 sent 44.5 while a file refused it.
TEST_F(WriteMeaning, NegativeAndTooFineNumbersAreRefusedOnTheCommandLine) {
    sim::SimulatedPort* qm = add(3, DeviceModel::QM48, "00042");
    EXPECT_EQ(set({"UbatLow", "-0.09"}), 2);
    EXPECT_NE(err.find("отрицательное значение -0.09"), std::string::npos) << err;
    EXPECT_EQ(set({"UbatLow", "44.55"}), 2);
    EXPECT_NE(err.find("ближайшие значения 44.5 и 44.6"), std::string::npos) << err;
    EXPECT_EQ(set({"RFloatTime", "7.0001"}), 2);
    EXPECT_EQ(writes(qm), Frames{});
    EXPECT_EQ(set({"UbatLow", "44,5"}), 0) << err;
    EXPECT_EQ(set({"RFloatTime", "7.5"}), 0) << err;  // 10800 minutes exactly
    EXPECT_EQ(held(qm, 0x68), 10800);
}

// What was seen: with a QM-48 and a KX-24 attached, set wrote 44.5 V to the
// KX-24; with two QM-48, gen off switched one of them off.
TEST_F(WriteMeaning, SeveralDevicesAndNoChoiceIsRefusedListingEach) {
    sim::SimulatedPort* qm = add(3, DeviceModel::QM48, "00042");
    sim::SimulatedPort* kx = add(5, DeviceModel::KX24, "K1");
    EXPECT_EQ(set({"UbatLow", "44.5"}), 2);
    EXPECT_NE(err.find("2 devices found"), std::string::npos) << err;
    EXPECT_NE(err.find("QM-48. S/N: 00042  (--serial 00042)"), std::string::npos) << err;
    EXPECT_NE(err.find("KX-24. S/N: K1  (--serial K1)"), std::string::npos) << err;
    EXPECT_EQ(run(cli::cmd_poll, {}), 2);
    EXPECT_EQ(run(cli::cmd_settings, {"diff", file(kKx24File)}), 2);
    EXPECT_EQ(writes(qm), Frames{});
    EXPECT_EQ(writes(kx), Frames{});

    choose({}, "00042");
    EXPECT_EQ(set({"UbatLow", "44.5"}), 0) << err;
    EXPECT_EQ(held(qm, 0x4E), 445);
    EXPECT_EQ(writes(kx), Frames{});
    // --port and --serial together must name the same unit.
    choose("COM5", "00042");
    EXPECT_EQ(set({"UbatLow", "23"}), 2);
    EXPECT_NE(err.find("not S/N 00042"), std::string::npos) << err;
}

TEST_F(WriteMeaning, TwoUnitsOfOneModelAreToldApartByPortWhenTheyHaveNoSerial) {
    sim::SimulatedPort* first =
        m_ports.add(3, {.model = DeviceModel::QM48, .serial = {}, .battery = {}});
    sim::SimulatedPort* second =
        m_ports.add(4, {.model = DeviceModel::QM48, .serial = {}, .battery = {}});
    EXPECT_EQ(run(cli::cmd_gen, {"off"}), 2);
    EXPECT_NE(err.find("(--port COM3)"), std::string::npos) << err;
    EXPECT_NE(err.find("(--port COM4)"), std::string::npos) << err;
    EXPECT_EQ(writes(first), Frames{});
    EXPECT_EQ(writes(second), Frames{});
    choose("COM4", {});
    EXPECT_EQ(run(cli::cmd_gen, {"off"}), 0) << err;
    EXPECT_EQ(writes(first), Frames{});
    EXPECT_EQ(writes(second), (Frames{{kFrameStart, cmd::kGenerationOff, kFrameEnd}}));
}

// Raising all three thresholds: UbatMinOn must go up before UbatMin passes
// its old value, whatever the file's order. A file whose own values invert a
// pair is refused naming both. The preview names both serial numbers.
TEST_F(WriteMeaning, ASettingsFileIsWrittenInAnOrderThatKeepsEveryPair) {
    sim::SimulatedPort* kx = add(5, DeviceModel::KX24, "K1");
    const std::string raised = file(
        "[device]\nformat = 1\nmodel = KX-24\nserial = K7\n[settings]\n"
        "UbatMin = 25.0\nUbatLow = 26.0\nUbatMinOn = 28.0\n");
    EXPECT_EQ(run(cli::cmd_settings, {"load", raised, "--yes"}), 0) << err;
    EXPECT_NE(out.find("file: KX-24, S/N K7"), std::string::npos) << out;
    EXPECT_NE(out.find("unit: KX-24. S/N: K1 on COM5"), std::string::npos) << out;
    EXPECT_EQ(writes(kx), (Frames{{kFrameStart, 0x4D, 0x01, 0x04, kFrameEnd},
                                  {kFrameStart, 0x3F, 0x01, 0x18, kFrameEnd},
                                  {kFrameStart, 0x4F, 0x00, 0xFA, kFrameEnd}}));

    const std::string inverted =
        file("[device]\nformat = 1\nmodel = KX-24\n[settings]\nUbatMin = 27.0\n");
    EXPECT_EQ(run(cli::cmd_settings, {"load", inverted, "--yes"}), 2);
    EXPECT_NE(err.find("line 5: UbatMin = 27.0 is not below UbatLow = 26.0"), std::string::npos)
        << err;
    EXPECT_EQ(writes(kx), Frames{});
}

}  // namespace
}  // namespace zorvane
