// Settings files: every model saved and loaded back over the in-memory
// simulated device, each kind of bad file refused with its line, the load's
// exit statuses, and a save that cannot complete.
#include "device/settings_file.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/cli/cli_commands.h"
#include "device/settings_transfer.h"
#include "link/frame.h"
#include "sim_line.h"

namespace zorvane {
namespace {

using testing::SimLinePort;
namespace fs = std::filesystem;

constexpr DeviceModel kModels[] = {DeviceModel::KX24, DeviceModel::KX48, DeviceModel::QM24,
                                   DeviceModel::QM48};

Family family_of(DeviceModel model) {
    return model_profile(model).family;
}

const char* model_name(DeviceModel model) {
    return model_profile(model).name;
}

// Write frames the device has received (reads are three bytes long).
int write_frames(const SimLinePort& sim) {
    int n = 0;
    for (const auto& frame : sim.line->device.received()) n += frame.size() > 3;
    return n;
}

uint8_t read_code(const FileSetting& setting) {
    return setting.variable->read_code;
}

// The device as the command line finds it: polled, no worker holding the port.
struct Rig {
    explicit Rig(DeviceModel model) : sim(model) {
        device_state.clear_device_values();
        device_state.g_com_port.store(1);
        device_state.g_device_kind.store(kind_of(family_of(model)));
        device_state.g_worker_idle.store(1);
        device_state.g_poll_pause.store(0);
        found.port = 1;
        found.model = model;
        found.serial = "1234";
        // Values off the whole numbers of the typed unit, so that any
        // rounding on the way to the file and back shows.
        for (const FileSetting& s : file_settings(family_of(model))) {
            const uint16_t raw = sim.line->device.value(read_code(s));
            sim.line->device.set_value(read_code(s), static_cast<uint16_t>(raw | 1));
        }
        sim.line->device.clear_log();
    }
    std::string save() {
        const SettingsReading reading = read_all_settings(sim.port, device_state, family());
        EXPECT_TRUE(reading.complete()) << reading.unread;
        return format_settings_file(
            {model_name(found.model), "1234", "2026-12-10T09:30:00Z", "zorvane test"}, family(),
            reading.wire);
    }
    Family family() const { return family_of(found.model); }
    // zorvane-cli settings ARGS on this device; output captured.
    int cli(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = cli::run_settings(static_cast<int>(argv.size()), argv.data(), sim.port,
                                             [this]() -> const FoundDevice* { return &found; });
        out = ::testing::internal::GetCapturedStdout();
        err = ::testing::internal::GetCapturedStderr();
        return status;
    }

    SimLinePort sim;
    FoundDevice found;
    std::string out;
    std::string err;
};

struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "zorvane-settings-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        ::chmod(path.c_str(), 0755);
        fs::remove_all(path);
    }
    std::string file(const char* name, const std::string& text = {}) const {
        const std::string p = (path / name).string();
        if (!text.empty())
            std::ofstream(p, std::ios::binary) << text;
        return p;
    }
    fs::path path;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(SettingsFile, EveryModelSavedThenLoadedBackWritesNothing) {
    for (const DeviceModel model : kModels) {
        SCOPED_TRACE(model_name(model));
        Rig rig(model);
        const std::string text = rig.save();
        const ParsedSettingsFile file = parse_settings_file(text);
        ASSERT_TRUE(file.ok()) << describe_problem(file.problems.front(), false);
        EXPECT_EQ(file.entries.size(), file_settings(rig.family()).size());
        const VoltageClass judged{.volts = model_profile(model).battery_volts};
        EXPECT_TRUE(check_file_for_device(file, model, judged, false, false).empty());

        TempDir dir;
        const std::string path = dir.file("unit.set", text);
        EXPECT_EQ(rig.cli({"load", path, "--yes"}), 0) << rig.err;
        EXPECT_NE(rig.out.find("nothing to change"), std::string::npos) << rig.out;
        EXPECT_EQ(write_frames(rig.sim), 0);
        // Saved again, the file is the same but for nothing.
        EXPECT_EQ(rig.save(), text);
    }
}

TEST(SettingsFile, ThreeChangedValuesGiveThreeFramesAndThreeConfirmations) {
    for (const DeviceModel model : kModels) {
        SCOPED_TRACE(model_name(model));
        Rig rig(model);
        TempDir dir;
        const std::string path = dir.file("unit.set", rig.save());
        // The device drifts from the file in three settings.
        const auto rows = file_settings(rig.family());
        std::vector<uint16_t> kept;
        for (int i = 0; i < 3; ++i) {
            auto& device = rig.sim.line->device;
            kept.push_back(device.value(read_code(rows[i])));
            device.set_value(read_code(rows[i]), static_cast<uint16_t>(kept.back() - 1));
        }
        rig.sim.line->device.clear_log();

        EXPECT_EQ(rig.cli({"diff", path}), 0);
        EXPECT_EQ(write_frames(rig.sim), 0);
        EXPECT_EQ(rig.cli({"load", path, "--yes"}), 0) << rig.err;
        EXPECT_EQ(write_frames(rig.sim), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(rig.sim.line->device.value(read_code(rows[i])), kept[i]);
            EXPECT_NE(rig.out.find(std::string(rows[i].name) + ": confirmed"), std::string::npos)
                << rig.out;
        }
    }
}

TEST(SettingsFile, AnIgnoredWriteExitsThreeNamingTheSettingAndWhatTheDeviceHolds) {
    Rig rig(DeviceModel::QM48);
    TempDir dir;
    const std::string path = dir.file("unit.qmf", rig.save());
    const FileSetting& row = file_settings(Family::Qm)[4];
    auto& device = rig.sim.line->device;
    const uint16_t wanted = device.value(read_code(row));
    device.set_value(read_code(row), static_cast<uint16_t>(wanted - 1));
    device.faults().add(sim::fault::ignore_write(row.variable->write_code));

    EXPECT_EQ(rig.cli({"load", path, "--yes"}), 3);
    EXPECT_EQ(write_frames(rig.sim), 1);
    const std::string held =
        std::string(row.name) + ": device holds " + format_file_value(row, wanted - 1);
    EXPECT_NE(rig.out.find(held), std::string::npos) << rig.out;
}

TEST(SettingsFile, ASettingChangedOnTheDeviceAfterThePreviewIsNotReportedAsMatching) {
    Rig rig(DeviceModel::KX48);
    const ParsedSettingsFile file = parse_settings_file(rig.save());
    const auto rows = file_settings(Family::Kx);
    auto& device = rig.sim.line->device;
    device.set_value(read_code(rows[0]), 7);
    const SettingsReading before = read_all_settings(rig.sim.port, device_state, Family::Kx);
    const std::vector<SettingDiff> diff = diff_settings(file, Family::Kx, before.wire);
    device.set_value(read_code(rows[2]), 9);  // while the preview is open

    const ApplyResult result = apply_settings(rig.sim.port, device_state, Family::Kx, diff);
    ASSERT_EQ(result.settings.size(), 2u);
    EXPECT_TRUE(result.settings[0].confirmed());
    EXPECT_EQ(result.settings[1].setting, &rows[2]);
    EXPECT_EQ(result.settings[1].held, 9);
    EXPECT_FALSE(result.all_confirmed());
    EXPECT_EQ(write_frames(rig.sim), 1);
}

TEST(SettingsFile, ASettingThatDoesNotApplyWithTheFilesValuesIsNotWritten) {
    // A setting that means nothing while another is not 0 (the registry
    // says which): the file switches the other one on and changes both.
    const auto rows = file_settings(Family::Qm);
    const auto dependent = std::find_if(rows.begin(), rows.end(), [](const FileSetting& s) {
        return s.variable->applies_while_zero != nullptr;
    });
    ASSERT_NE(dependent, rows.end());
    const auto governing = std::find_if(rows.begin(), rows.end(), [&](const FileSetting& s) {
        return s.variable->field == dependent->variable->applies_while_zero;
    });
    ASSERT_NE(governing, rows.end());
    Rig rig(DeviceModel::QM48);
    auto& device = rig.sim.line->device;
    device.set_value(read_code(*governing), 0);
    TempDir dir;
    const std::string text = "[device]\nformat = 1\nmodel = QM-48\n[settings]\n" +
                             std::string(governing->name) + " = 1\n" + dependent->name + " = " +
                             format_file_value(*dependent, 3) + "\n";
    EXPECT_EQ(rig.cli({"load", dir.file("gen.qmf", text), "--yes"}), 0) << rig.out << rig.err;
    EXPECT_EQ(write_frames(rig.sim), 1);
    EXPECT_EQ(device.value(read_code(*governing)), 1);
    EXPECT_NE(device.value(read_code(*dependent)), 3);
}

TEST(SettingsFile, NoAnswerExitsOneAndWritesNothing) {
    Rig rig(DeviceModel::KX24);
    TempDir dir;
    const std::string path = dir.file("unit.kxf", rig.save());
    rig.sim.line->device.faults().add(sim::fault::silence());
    EXPECT_EQ(rig.cli({"load", path, "--yes"}), 1);
    EXPECT_EQ(rig.cli({"save", dir.file("other.kxf")}), 1);
    EXPECT_FALSE(fs::exists(dir.file("other.kxf")));
    EXPECT_EQ(write_frames(rig.sim), 0);
}

struct BadFile {
    const char* why;
    std::string text;
    FileProblem::Kind kind;
    int line;
};

TEST(SettingsFile, EachKindOfBadFileIsRefusedWithItsLineAndSendsNothing) {
    using K = FileProblem::Kind;
    const std::string head = "[device]\nformat = 1\nmodel = QM-48\n\n[settings]\n";  // 5 lines
    const BadFile cases[] = {
        {"unknown name", head + "UbatLow = 44.0\nUbatLw = 44.0\n", K::UnknownName, 7},
        {"KX name in a QM file", head + "UoutNom = 230.0\n", K::UnknownName, 6},
        {"given twice", head + "Pmax = 3000\n# again\nPmax = 2500\n", K::Duplicate, 8},
        {"not a number", head + "Pmax = 3k\n", K::NotANumber, 6},
        {"empty value", head + "Pmax =\n", K::NotANumber, 6},
        {"two points", head + "UbatLow = 4.4.0\n", K::NotANumber, 6},
        {"above the payload", head + "Pmax = 65536\n", K::OutOfRange, 6},
        {"far above", head + "Pmax = 99999999999999999999999999999\n", K::OutOfRange, 6},
        {"negative", head + "UbatLow = -1\n", K::OutOfRange, 6},
        {"one-byte payload", head + "EGenSleep = 256\n", K::OutOfRange, 6},
        {"finer than kept", head + "UbatLow = 44.05\n", K::TooPrecise, 6},
        {"days where minutes are kept", head + "RFloatTime = 2.5\n", K::TooPrecise, 6},
        {"no [device]", "[settings]\nPmax = 3000\n", K::NoDeviceSection, 0},
        {"no model", "[device]\nformat = 1\n[settings]\nPmax = 3000\n", K::UnknownModel, 1},
        {"unknown model", "[device]\nformat = 1\nmodel = QM-96\n", K::UnknownModel, 3},
        {"other format", "[device]\nformat = 2\nmodel = QM-48\n", K::BadFormat, 2},
        {"unknown section", head + "[extra]\nPmax = 3000\n", K::UnknownSection, 6},
        {"no equals sign", head + "Pmax 3000\n", K::Syntax, 6},
        {"unknown header key", "[device]\nformat = 1\nmodel = QM-48\ncolour = red\n", K::UnknownKey,
         4},
        {"too large", head + std::string(kMaxSettingsFileBytes, '#'), K::TooLarge, 0},
    };
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.why);
        const ParsedSettingsFile file = parse_settings_file(c.text);
        ASSERT_FALSE(file.ok());
        EXPECT_EQ(file.problems.front().kind, c.kind)
            << describe_problem(file.problems.front(), false);
        EXPECT_EQ(file.problems.front().line, c.line);
        if (c.line > 0) {
            EXPECT_EQ(describe_problem(file.problems.front(), false)
                          .rfind("line " + std::to_string(c.line) + ": ", 0),
                      0u);
            EXPECT_EQ(describe_problem(file.problems.front(), true)
                          .rfind("строка " + std::to_string(c.line) + ": ", 0),
                      0u);
        }
    }
    // Through the command: refused before anything reaches the device.
    Rig rig(DeviceModel::QM48);
    TempDir dir;
    for (const BadFile& c : cases) {
        EXPECT_EQ(rig.cli({"load", dir.file("bad.qmf", c.text), "--yes"}), 2) << c.why;
    }
    EXPECT_TRUE(rig.sim.line->device.received().empty());
    EXPECT_EQ(rig.cli({"diff", dir.file("bad.qmf", cases[0].text)}), 2);
    EXPECT_NE(rig.err.find("bad.qmf: line 7: a QM device has no setting 'UbatLw'"),
              std::string::npos)
        << rig.err;
}

TEST(SettingsFile, OtherFamilyIsRefusedAndOtherVoltageNeedsTheOverride) {
    Rig kx24(DeviceModel::KX24);
    const std::string kx_file = kx24.save();
    Rig qm48(DeviceModel::QM48);
    TempDir dir;
    EXPECT_EQ(qm48.cli({"load", dir.file("kx.kxf", kx_file), "--yes", "--force"}), 2);
    EXPECT_NE(qm48.err.find("line 5"), std::string::npos) << qm48.err;

    // A 24 V file on a 48 V unit of the same family: battery thresholds.
    Rig kx48(DeviceModel::KX48);
    const std::string path = dir.file("kx24.kxf", kx_file);
    EXPECT_EQ(kx48.cli({"diff", path}), 2);
    EXPECT_EQ(kx48.cli({"load", path, "--yes"}), 2);
    EXPECT_NE(kx48.err.find("--force"), std::string::npos) << kx48.err;
    EXPECT_EQ(write_frames(kx48.sim), 0);
    EXPECT_EQ(kx48.cli({"load", path, "--yes", "--force"}), 0) << kx48.err;
    EXPECT_GT(write_frames(kx48.sim), 0);
    EXPECT_EQ(kx48.save().substr(kx48.save().find("[settings]")),
              kx_file.substr(kx_file.find("[settings]")));
}

TEST(SettingsFile, WithoutATerminalLoadRefusesToWriteAndMissingSettingsAreKept) {
    Rig rig(DeviceModel::QM24);
    TempDir dir;
    const auto rows = file_settings(Family::Qm);
    // Only one setting in the file, different from the device's.
    const std::string text = "[device]\nformat = 1\nmodel = QM-24\n[settings]\n" +
                             std::string(rows[0].name) + " = " + format_file_value(rows[0], 2201) +
                             "\n";
    const std::string path = dir.file("one.qmf", text);
    std::FILE* saved_stdin = std::freopen("/dev/null", "r", stdin);
    ASSERT_NE(saved_stdin, nullptr);
    EXPECT_EQ(rig.cli({"load", path}), 2);
    EXPECT_EQ(write_frames(rig.sim), 0);
    EXPECT_EQ(rig.cli({"load", path, "--yes"}), 0);
    EXPECT_EQ(write_frames(rig.sim), 1);
    EXPECT_EQ(rig.sim.line->device.value(read_code(rows[0])), 2201);
}

// Removes CAP_DAC_OVERRIDE from this thread for the scope, so that a
// directory without write permission refuses even a root test run.
class NoDacOverride {
  public:
    NoDacOverride() {
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~CAP_TO_MASK(CAP_DAC_OVERRIDE);
        m_dropped = ::syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~NoDacOverride() {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    NoDacOverride(const NoDacOverride&) = delete;
    NoDacOverride& operator=(const NoDacOverride&) = delete;

  private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

TEST(SettingsFile, ASaveThatCannotCompleteLeavesTheEarlierFileAndNoPartOfTheNew) {
    TempDir dir;
    const std::string earlier = "[device]\nformat = 1\nmodel = KX-24\n";
    const std::string path = dir.file("unit.kxf", earlier);

    ASSERT_EQ(::chmod(dir.path.c_str(), 0555), 0);
    {
        NoDacOverride guard;
        const FileOutcome denied = write_file_atomically(path, "new contents\n");
        EXPECT_FALSE(denied.ok());
        EXPECT_FALSE(denied.error.empty());
    }
    ASSERT_EQ(::chmod(dir.path.c_str(), 0755), 0);

    // The target is a directory: refused before anything is written.
    const std::string target = (dir.path / "folder").string();
    fs::create_directory(target);
    EXPECT_EQ(write_file_atomically(target, "new contents\n").status, FileStatus::NotRegular);

    EXPECT_EQ(slurp(path), earlier);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path)) ++entries;
    EXPECT_EQ(entries, 2);  // unit.kxf and folder

    // And a save that works replaces the file whole.
    const FileOutcome saved = write_file_atomically(path, "new contents\n");
    EXPECT_TRUE(saved.ok()) << saved.error;
    EXPECT_EQ(slurp(path), "new contents\n");
}

}  // namespace
}  // namespace zorvane
