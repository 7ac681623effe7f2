// Settings files: a device's settings as UTF-8 text that people read and diff.
//
//   # comment lines start with #
//   [device]
//   format = 1
//   model = QM-48
//   serial = 00042
//   saved = 2026-12-10T09:30:00Z
//   tool = zorvane 0.9.1
//
//   [settings]
//   UbatLow = 24.0
//   RFloatTime = 2000       # min (typed in d)
//
// One line per setting of the family, in the unit the technician types with
// the precision the device keeps; a setting typed more coarsely than the
// device keeps it is written in the device's own unit, and the comment says
// so. Values are compared and written as wire values, so a file saved from a
// device and loaded back onto it changes nothing.
//
// Everything here is text and numbers: no port, no device.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/setting_write.h"
#include "link/file_access.h"
#include "state/device_state.h"
#include "state/models.h"
#include "state/variables.h"

namespace zorvane {

inline constexpr int kSettingsFileFormat = 1;

// One setting of a family as a file holds it.
struct FileSetting {
    const Variable* variable;
    const char* name;    // as the family's technician knows it ("UrmsNom" on a QM)
    SettingParam write;  // the row the setting-write routine takes
    int file_scale;      // wire units per unit written in the file
    int decimals;        // digits after the point in the file
    std::string unit;    // of the value as the file writes it ("V", "min"), or empty
    std::string note;    // comment after the value, or empty
};

// Every setting of the family, in registry order.
std::span<const FileSetting> file_settings(Family family);
const FileSetting* find_file_setting(std::string_view name, Family family);

// The wire value behind the setting's field in the state.
uint16_t stored_wire(const DeviceState& state, const FileSetting& setting);
// "24.0", "3600": the value as the file writes it.
std::string format_file_value(const FileSetting& setting, uint16_t wire);

struct SettingsHeader {
    std::string model;
    std::string serial;
    std::string saved;  // ISO 8601, UTC
    std::string tool;
};

// The file of `family`; `wire` holds one value per row of file_settings.
std::string format_settings_file(const SettingsHeader& header, Family family,
                                 std::span<const uint16_t> wire);

struct FileProblem {
    enum class Kind {
        Syntax,          // a line that is no section, key or comment
        UnknownSection,  // "[foo]"
        NoDeviceSection,
        UnknownKey,   // in [device]
        UnknownName,  // in [settings]
        Duplicate,    // a name given twice
        NotANumber,
        TooPrecise,  // more decimals than the device keeps
        OutOfRange,
        BadFormat,     // format missing or not ours
        UnknownModel,  // model missing or not one of ours
        OtherFamily,   // a KX file on a QM device or the other way round
        OtherVoltage,  // a 24 V file on a 48 V device or the other way round
        TooLarge,
        ClassUnknown,  // the unit's voltage class is not established: value (English), extra
                       // (Russian)
        Implausible,   // outside what a unit of the class survives: extra the span
        Inverted,      // a pair out of order once loaded: name "UbatMin = 45.0", value the other
        ModelUnsure,   // the unit's model is not established
    };
    Kind kind;
    int line = 0;       // 1-based; 0 when the problem is the file as a whole
    std::string name;   // the setting, key, section or (file's) model
    std::string value;  // as written in the file; the device's model
    std::string extra;  // the first line of a duplicate; the upper limit
};

// "line 7: UbatLow = 9999: out of range 0 to 6553.5" in English (the
// command line) or Russian (the window).
std::string describe_problem(const FileProblem& problem, bool russian);

struct FileEntry {
    const FileSetting* setting;
    uint16_t wire;
    int line;
};

struct ParsedSettingsFile {
    SettingsHeader header;
    std::optional<DeviceModel> model;
    int model_line = 0;
    std::vector<FileEntry> entries;  // in file order
    std::vector<FileProblem> problems;
    bool ok() const { return problems.empty(); }
};

// Files larger than this are refused unread: no family has that many
// settings, and a wrong choice in a file dialog must not fill the memory.
inline constexpr size_t kMaxSettingsFileBytes = 64 * 1024;

ParsedSettingsFile parse_settings_file(std::string_view text);

// The file at `path` read (only a regular file, at most
// kMaxSettingsFileBytes) and parsed. A larger file is a TooLarge problem of
// `file`; a file that cannot be read at all is a failed outcome, saying why.
FileOutcome read_settings_file(const std::string& path, ParsedSettingsFile& file);

// The problems of loading a well-formed file onto a device of `device`
// model whose voltage class is `judged` (judge_voltage_class once its
// settings are read). A file of the other family, or for a unit whose model
// is not established, is always refused; a file of the other voltage class,
// for a unit whose class is not established, or with a value outside the
// class's span, only unless `force` (the technician at the unit overrides).
std::vector<FileProblem> check_file_for_device(const ParsedSettingsFile& file, DeviceModel device,
                                               const VoltageClass& judged, bool model_unsure,
                                               bool force);

// One row of a preview: every setting of the device's family.
struct SettingDiff {
    const FileSetting* setting;
    uint16_t device;
    std::optional<uint16_t> file;  // empty: the file leaves it as the device has it
    // False for a setting that means nothing with the values the device will
    // hold once the file is loaded (EGenOnTime while EGenUbat is 1): nobody
    // writes it then, a file included.
    bool applies = true;
    bool changed() const { return applies && file && *file != device; }
};

// `device_wire` holds one value per row of file_settings(family).
std::vector<SettingDiff> diff_settings(const ParsedSettingsFile& file, Family family,
                                       std::span<const uint16_t> device_wire);

// The pairs of setting_orders() that the device would hold inverted once the
// file is loaded, each naming both values; none when `force`.
std::vector<FileProblem> order_problems(const ParsedSettingsFile& file,
                                        std::span<const SettingDiff> rows, bool force);

// "2026-12-10T09:30:00Z" for the current time.
std::string utc_timestamp_now();
// "zorvane 0.9.1": what the header's `tool` says of this tool.
std::string settings_tool_label();

}  // namespace zorvane
