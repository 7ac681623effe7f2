// zorvane-cli settings save|diff|load: a device's settings to a file, the
// difference between a file and the device, and a file onto the device.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "app/cli/cli_link.h"
#include "app/cli/cli_values.h"
#include "device/settings_file.h"
#include "device/settings_transfer.h"
#include "link/file_access.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane::cli {

namespace {

constexpr int kConfirmed = 0;
constexpr int kNoDevice = 1;
constexpr int kRefused = 2;
constexpr int kNotConfirmed = 3;

int usage() {
    std::fprintf(stderr,
                 "usage: zorvane-cli settings save FILE\n"
                 "       zorvane-cli settings diff FILE [--force]\n"
                 "       zorvane-cli settings load FILE [--yes] [--force]\n");
    return kRefused;
}

struct Options {
    std::string verb;
    std::string file;
    bool yes = false;
    bool force = false;
};

bool parse_options(int argc, char** argv, Options& options) {
    if (argc < 2)
        return false;
    options.verb = argv[0];
    options.file = argv[1];
    OnceEach once;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--") && !once.first(arg))
            return false;
        if (arg == "--yes" && options.verb == "load") {
            options.yes = true;
        } else if (arg == "--force" && options.verb != "save") {
            options.force = true;
        } else {
            return false;
        }
    }
    return options.verb == "save" || options.verb == "diff" || options.verb == "load";
}

Family family_of_polled() {
    return family_of_kind(device_state.g_device_kind.load()) == Family::Kx ? Family::Kx
                                                                           : Family::Qm;
}

// Every setting read in one go; says which one the device did not answer for.
bool read_device(SerialPort& port, Family family, SettingsReading& reading) {
    reading = read_all_settings(port, device_state, family);
    if (!reading.port_opened) {
        std::fprintf(stderr, "zorvane-cli: COM%d does not open\n", device_state.g_com_port.load());
    } else if (!reading.complete()) {
        std::fprintf(stderr, "zorvane-cli: the device did not answer for %s\n",
                     reading.unread.c_str());
    }
    return reading.complete() && !quit_requested();
}

int save(const Options& options, SerialPort& port, const DeviceFinder& find_device) {
    const FoundDevice* device = find_device();
    if (device == nullptr)
        return kNoDevice;
    const Family family = family_of_polled();
    SettingsReading reading;
    if (!read_device(port, family, reading)) {
        std::fprintf(stderr, "zorvane-cli: nothing saved\n");
        return kNoDevice;
    }
    const SettingsHeader header{model_profile(device->model).name, device->serial,
                                utc_timestamp_now(), settings_tool_label()};
    if (const FileOutcome written =
            write_file_atomically(options.file, format_settings_file(header, family, reading.wire));
        !written.ok()) {
        std::fprintf(stderr, "zorvane-cli: %s: %s; nothing saved\n", options.file.c_str(),
                     written.error.c_str());
        return kRefused;
    }
    std::printf("saved %zu settings of %s to %s\n", reading.wire.size(), header.model.c_str(),
                options.file.c_str());
    return kConfirmed;
}

void print_problems(const std::string& file, const std::vector<FileProblem>& problems) {
    for (const FileProblem& problem : problems) {
        std::fprintf(stderr, "%s: %s\n", file.c_str(), describe_problem(problem, false).c_str());
    }
}

void print_diff(const std::vector<SettingDiff>& rows) {
    size_t width = 4;
    for (const SettingDiff& row : rows) width = std::max(width, std::strlen(row.setting->name));
    std::printf("  %-*s  %10s  %10s\n", static_cast<int>(width), "NAME", "DEVICE", "FILE");
    for (const SettingDiff& row : rows) {
        const std::string device = format_file_value(*row.setting, row.device);
        const std::string file = row.file ? format_file_value(*row.setting, *row.file) : "-";
        std::printf("%c %-*s  %10s  %10s%s\n", row.changed() ? '*' : ' ', static_cast<int>(width),
                    row.setting->name, device.c_str(), file.c_str(),
                    !row.file      ? "  (not in the file: kept)"
                    : !row.applies ? "  (not used with these settings: not written)"
                                   : "");
    }
}

bool confirmed_by_user(size_t changes) {
#ifdef _WIN32
    const bool terminal = _isatty(_fileno(stdin)) != 0;
#else
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
#endif
    if (!terminal) {
        std::fprintf(stderr,
                     "zorvane-cli: standard input is not a terminal; pass --yes to write. "
                     "Nothing was written\n");
        return false;
    }
    std::fprintf(stderr, "Write %zu setting(s) to the device on COM%d? [y/N] ", changes,
                 device_state.g_com_port.load());
    std::fflush(stderr);
    char answer[16] = {};
    if (std::fgets(answer, sizeof answer, stdin) == nullptr ||
        (std::strcmp(answer, "y\n") != 0 && std::strcmp(answer, "yes\n") != 0)) {
        std::fprintf(stderr, "zorvane-cli: nothing was written\n");
        return false;
    }
    return true;
}

int report(const ApplyResult& result) {
    for (const AppliedSetting& s : result.settings) {
        const char* name = s.setting->name;
        if (s.to_write && !s.sent) {
            std::printf("%s: not sent\n", name);
        } else if (!s.held) {
            std::printf("%s: not read back\n", name);
        } else if (s.confirmed()) {
            std::printf("%s: confirmed\n", name);
        } else {
            std::printf("%s: device holds %s\n", name,
                        format_file_value(*s.setting, *s.held).c_str());
        }
    }
    if (!result.all_sent || !result.read_back.complete() || quit_requested()) {
        std::fprintf(stderr, "zorvane-cli: the device stopped answering\n");
        return kNoDevice;
    }
    return result.all_confirmed() ? kConfirmed : kNotConfirmed;
}

int diff_or_load(const Options& options, SerialPort& port, const DeviceFinder& find_device) {
    // Everything that can be told from the file alone is told before the
    // device is even searched for.
    ParsedSettingsFile file;
    if (const FileOutcome read = read_settings_file(options.file, file); !read.ok()) {
        std::fprintf(stderr, "zorvane-cli: %s: %s; nothing was read\n", options.file.c_str(),
                     read.error.c_str());
        return kRefused;
    }
    if (!file.ok()) {
        print_problems(options.file, file.problems);
        return kRefused;
    }
    const FoundDevice* found = find_device();
    if (found == nullptr)
        return kNoDevice;
    const FoundDevice& device = *found;
    store_identification(device_state, device.identification);
    // The file and the unit side by side, serial numbers included: a file
    // saved from another unit is loaded knowingly.
    std::printf("file: %s, S/N %s%s%s\nunit: %s on %s\n", file.header.model.c_str(),
                file.header.serial.empty() ? "-" : file.header.serial.c_str(),
                file.header.saved.empty() ? "" : ", saved ", file.header.saved.c_str(),
                device.caption.c_str(), device_port_label(device).c_str());
    if (!file.header.serial.empty() && file.header.serial != device.serial) {
        std::fprintf(stderr, "zorvane-cli: the file was saved from S/N %s, this device is S/N %s\n",
                     printable(file.header.serial).c_str(), printable(device.serial).c_str());
    }
    const Family family = family_of_polled();
    SettingsReading reading;
    const bool unsure = device_state.g_model_unsure.load() != 0;
    // The class is judged with the battery thresholds the unit holds, so the
    // settings are read first; a unit of the wrong family is refused unread.
    const bool family_matches = model_profile(*file.model).family == device.family();
    if (!unsure && family_matches && !read_device(port, family, reading)) {
        std::fprintf(stderr, "zorvane-cli: nothing was written\n");
        return kNoDevice;
    }
    const std::vector<FileProblem> problems = check_file_for_device(
        file, device.model, judge_voltage_class(device_state), unsure, options.force);
    if (!problems.empty()) {
        print_problems(options.file, problems);
        const FileProblem::Kind kind = problems.front().kind;
        if (kind != FileProblem::Kind::OtherFamily && kind != FileProblem::Kind::ModelUnsure) {
            std::fprintf(stderr, "zorvane-cli: --force loads it all the same\n");
        }
        return kRefused;
    }
    const std::vector<SettingDiff> rows = diff_settings(file, family, reading.wire);
    print_diff(rows);
    if (const std::vector<FileProblem> inverted = order_problems(file, rows, options.force);
        !inverted.empty()) {
        print_problems(options.file, inverted);
        std::fprintf(stderr, "zorvane-cli: --force loads it all the same\n");
        return kRefused;
    }
    const size_t changes = static_cast<size_t>(std::count_if(
        rows.begin(), rows.end(), [](const SettingDiff& row) { return row.changed(); }));
    if (changes == 0) {
        std::printf("nothing to change\n");
        return kConfirmed;
    }
    if (options.verb == "diff")
        return kConfirmed;
    if (!options.yes && !confirmed_by_user(changes))
        return kRefused;
    std::fflush(stdout);
    return report(apply_settings(port, device_state, family, rows));
}

}  // namespace

int run_settings(int argc, char** argv, SerialPort& port, const DeviceFinder& find_device) {
    Options options;
    if (!parse_options(argc, argv, options))
        return usage();
    const int status = options.verb == "save" ? save(options, port, find_device)
                                              : diff_or_load(options, port, find_device);
    std::fflush(stdout);
    return status;
}

int cmd_settings(int argc, char** argv) {
    std::optional<FoundDevice> device;
    const int status = run_settings(argc, argv, serial_port(), [&device]() -> const FoundDevice* {
        device = take_polled_device();
        return device ? &*device : nullptr;
    });
    // The search's refusal of an ambiguous choice is a refusal, not a device
    // that is missing.
    return status == kNoDevice && !device ? no_device_status() : status;
}

}  // namespace zorvane::cli
