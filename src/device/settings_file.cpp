#include "device/settings_file.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>

#include "link/file_access.h"
#include "state/version.h"

namespace zorvane {

namespace {

constexpr const char* kDeviceSection = "device";
constexpr const char* kSettingsSection = "settings";

// Units a coarse unit is kept in: a device that keeps days as minutes
// stores 1440 of them per day.
struct FinerUnit {
    const char* unit;
    int per_unit;
    const char* finer;
};
constexpr FinerUnit kFinerUnits[] = {
    {"d", 1440, "min"}, {"d", 86400, "s"}, {"h", 60, "min"}, {"min", 60, "s"}};

// Settings whose scale is a power of ten are written with that many
// decimals, which is exactly what the device keeps. Any other scale means the
// technician types a coarser unit than the device keeps (days for minutes):
// such a setting is written in the device's unit, as a whole number.
int decimals_of(int scale) {
    int decimals = 0;
    int power = 1;
    while (power < scale) {
        power *= 10;
        ++decimals;
    }
    return power == scale ? decimals : -1;
}

FileSetting make_file_setting(const Variable& v, Family family) {
    const char* name = v.name_for(family);
    FileSetting setting{
        &v,
        name,
        SettingParam{0, family == Family::Kx ? SettingPage::Kx : SettingPage::Inverter, name,
                     v.field, v.write_code, v.scale, v.width, false, false, v.whole_shown_suffix(),
                     &v},
        1,
        0,
        v.unit,
        {}};
    const int decimals = decimals_of(v.scale);
    if (decimals >= 0) {
        setting.file_scale = v.scale;
        setting.decimals = decimals;
    } else {
        setting.unit = "1/" + std::to_string(v.scale) + " " + v.unit;
        for (const FinerUnit& finer : kFinerUnits) {
            if (v.unit == std::string_view(finer.unit) && v.scale == finer.per_unit)
                setting.unit = finer.finer;
        }
        setting.note = " (typed in " + std::string(v.unit) + ")";
    }
    if (!setting.unit.empty())
        setting.note = setting.unit + setting.note;
    return setting;
}

std::vector<FileSetting> build_family(Family family) {
    std::vector<FileSetting> rows;
    for (const Variable& v : variables()) {
        if (v.writable() && has_family(v.families, family)) {
            rows.push_back(make_file_setting(v, family));
        }
    }
    return rows;
}

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// Text that a header line can carry: one line, no comment mark.
std::string header_text(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '#')
            c = '?';
    }
    return std::string(trim(out));
}

enum class Number { Ok, NotANumber, TooPrecise, OutOfRange };

// An exact decimal ("24.5", "24,5", "3600") as a count of 1/10^decimals.
Number parse_exact(std::string_view text, int decimals, long long& scaled) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    long long whole = 0;
    long long fraction = 0;
    int fraction_digits = 0;
    bool digits = false;
    bool point = false;
    bool huge = false;
    bool excess = false;
    for (const char c : text) {
        if (c == '.' || c == ',') {
            if (point)
                return Number::NotANumber;
            point = true;
            continue;
        }
        if (c < '0' || c > '9')
            return Number::NotANumber;
        digits = true;
        if (!point) {
            // Past a billion no payload holds it; counting on would overflow.
            huge = huge || whole > 1'000'000'000;
            if (!huge)
                whole = whole * 10 + (c - '0');
        } else if (fraction_digits < decimals) {
            fraction = fraction * 10 + (c - '0');
            ++fraction_digits;
        } else if (c != '0') {
            excess = true;
        }
    }
    if (!digits || (point && (text.front() == '.' || text.front() == ',' || text.back() == '.' ||
                              text.back() == ','))) {
        return Number::NotANumber;
    }
    if (excess)
        return Number::TooPrecise;
    if (huge)
        return Number::OutOfRange;
    for (int i = fraction_digits; i < decimals; ++i) fraction *= 10;
    long long power = 1;
    for (int i = 0; i < decimals; ++i) power *= 10;
    scaled = whole * power + fraction;
    // "-0.0" is no setting either: a negative number is refused, zero or not.
    if (negative)
        return Number::OutOfRange;
    return Number::Ok;
}

struct Line {
    int number;
    std::string_view key;
    std::string_view value;
};

const char* family_name(Family family) {
    return family_profile(family).name;
}

std::string with_line(const FileProblem& p, bool russian) {
    if (p.line == 0)
        return {};
    return (russian ? "строка " : "line ") + std::to_string(p.line) + ": ";
}

}  // namespace

std::span<const FileSetting> file_settings(Family family) {
    static const std::vector<FileSetting> kx = build_family(Family::Kx);
    static const std::vector<FileSetting> qm = build_family(Family::Qm);
    return family == Family::Kx ? kx : qm;
}

const FileSetting* find_file_setting(std::string_view name, Family family) {
    for (const FileSetting& setting : file_settings(family)) {
        if (name == setting.name)
            return &setting;
    }
    return nullptr;
}

uint16_t stored_wire(const DeviceState& state, const FileSetting& setting) {
    // The field holds wire / scale; rounding undoes the division exactly for
    // every wire value a payload can carry.
    const double wire = std::round(static_cast<double>((state.*setting.variable->field).load()) *
                                   setting.variable->scale);
    if (!(wire >= 0))
        return 0;
    const uint16_t max = setting.variable->wire_max;
    return wire > max ? max : static_cast<uint16_t>(wire);
}

std::string format_file_value(const FileSetting& setting, uint16_t wire) {
    // Wire values in the file's unit: the scale is a power of ten here, so
    // the decimal digits are those of the wire value itself.
    std::string digits = std::to_string(wire);
    if (setting.decimals == 0)
        return digits;
    const size_t width = static_cast<size_t>(setting.decimals) + 1;
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    digits.insert(digits.size() - static_cast<size_t>(setting.decimals), ".");
    return digits;
}

std::string format_settings_file(const SettingsHeader& header, Family family,
                                 std::span<const uint16_t> wire) {
    std::string out;
    out += "# Zorvane settings file: one line NAME = VALUE per setting.\n";
    out += "# A setting left out is kept as the device has it.\n";
    out += "[device]\n";
    out += "format = " + std::to_string(kSettingsFileFormat) + "\n";
    out += "model = " + header_text(header.model) + "\n";
    out += "serial = " + header_text(header.serial) + "\n";
    out += "saved = " + header_text(header.saved) + "\n";
    out += "tool = " + header_text(header.tool) + "\n";
    out += "\n[" + std::string(kSettingsSection) + "]\n";
    const std::span<const FileSetting> rows = file_settings(family);
    for (size_t i = 0; i < rows.size() && i < wire.size(); ++i) {
        std::string line = std::string(rows[i].name) + " = " + format_file_value(rows[i], wire[i]);
        if (!rows[i].note.empty()) {
            line.resize(std::max<size_t>(line.size() + 2, 24), ' ');
            line += "# " + rows[i].note;
        }
        out += line + "\n";
    }
    return out;
}

namespace {

// The sections one after the other; the problems of each as it is read.
ParsedSettingsFile parse_sections(std::string_view text) {
    ParsedSettingsFile file;
    auto problem = [&file](FileProblem::Kind kind, int line, std::string_view name = {},
                           std::string_view value = {}, std::string extra = {}) {
        file.problems.push_back(
            {kind, line, std::string(name), std::string(value), std::move(extra)});
    };
    if (text.size() > kMaxSettingsFileBytes) {
        problem(FileProblem::Kind::TooLarge, 0);
        return file;
    }
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);  // a byte-order mark

    int device_line = 0;
    std::vector<Line> device_lines;
    std::vector<Line> setting_lines;
    std::vector<Line>* section = nullptr;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        raw = trim(raw.substr(0, raw.find('#')));
        if (raw.empty())
            continue;
        if (raw.front() == '[') {
            if (raw.back() != ']') {
                problem(FileProblem::Kind::Syntax, number);
                continue;
            }
            const std::string_view name = trim(raw.substr(1, raw.size() - 2));
            if (name == kDeviceSection) {
                section = &device_lines;
                if (device_line == 0)
                    device_line = number;
            } else if (name == kSettingsSection) {
                section = &setting_lines;
            } else {
                section = nullptr;
                problem(FileProblem::Kind::UnknownSection, number, name);
            }
            continue;
        }
        const size_t equals = raw.find('=');
        if (equals == std::string_view::npos || trim(raw.substr(0, equals)).empty()) {
            problem(FileProblem::Kind::Syntax, number);
            continue;
        }
        if (section == nullptr) {
            // Outside a section, or inside an unknown one (told already).
            if (file.problems.empty() ||
                file.problems.back().kind != FileProblem::Kind::UnknownSection) {
                problem(FileProblem::Kind::Syntax, number);
            }
            continue;
        }
        section->push_back({number, trim(raw.substr(0, equals)), trim(raw.substr(equals + 1))});
    }

    if (device_line == 0) {
        problem(FileProblem::Kind::NoDeviceSection, 0);
        return file;
    }
    std::map<std::string_view, int> seen;
    bool format_seen = false;
    for (const Line& line : device_lines) {
        if (const auto first = seen.find(line.key); first != seen.end()) {
            problem(FileProblem::Kind::Duplicate, line.number, line.key, line.value,
                    std::to_string(first->second));
            continue;
        }
        seen.emplace(line.key, line.number);
        if (line.key == "format") {
            format_seen = true;
            if (line.value != std::to_string(kSettingsFileFormat)) {
                problem(FileProblem::Kind::BadFormat, line.number, line.key, line.value);
            }
        } else if (line.key == "model") {
            file.header.model = line.value;
            file.model_line = line.number;
            file.model = find_model(line.value);
            if (!file.model)
                problem(FileProblem::Kind::UnknownModel, line.number, line.key, line.value);
        } else if (line.key == "serial") {
            file.header.serial = line.value;
        } else if (line.key == "saved") {
            file.header.saved = line.value;
        } else if (line.key == "tool") {
            file.header.tool = line.value;
        } else {
            problem(FileProblem::Kind::UnknownKey, line.number, line.key);
        }
    }
    if (!format_seen)
        problem(FileProblem::Kind::BadFormat, device_line, "format");
    if (file.model_line == 0)
        problem(FileProblem::Kind::UnknownModel, device_line, "model");
    if (!file.model) {
        // Without a family the names cannot be told from unknown ones.
        return file;
    }

    const Family family = model_profile(*file.model).family;
    seen.clear();
    for (const Line& line : setting_lines) {
        const FileSetting* setting = find_file_setting(line.key, family);
        if (setting == nullptr) {
            problem(FileProblem::Kind::UnknownName, line.number, line.key, family_name(family));
            continue;
        }
        if (const auto first = seen.find(line.key); first != seen.end()) {
            problem(FileProblem::Kind::Duplicate, line.number, line.key, line.value,
                    std::to_string(first->second));
            continue;
        }
        seen.emplace(line.key, line.number);
        long long scaled = 0;
        switch (parse_exact(line.value, setting->decimals, scaled)) {
            case Number::NotANumber:
                problem(FileProblem::Kind::NotANumber, line.number, line.key, line.value);
                continue;
            case Number::TooPrecise:
                problem(FileProblem::Kind::TooPrecise, line.number, line.key, line.value,
                        std::to_string(setting->decimals));
                continue;
            case Number::OutOfRange:
                break;
            case Number::Ok:
                if (scaled <= setting->variable->wire_max) {
                    file.entries.push_back({setting, static_cast<uint16_t>(scaled), line.number});
                    continue;
                }
                break;
        }
        problem(FileProblem::Kind::OutOfRange, line.number, line.key, line.value,
                format_file_value(*setting, setting->variable->wire_max));
    }
    return file;
}

}  // namespace

ParsedSettingsFile parse_settings_file(std::string_view text) {
    ParsedSettingsFile file = parse_sections(text);
    // Told from the top of the file down, as the technician mends them;
    // problems of the file as a whole (line 0) come first.
    std::stable_sort(file.problems.begin(), file.problems.end(),
                     [](const FileProblem& a, const FileProblem& b) { return a.line < b.line; });
    return file;
}

std::vector<FileProblem> check_file_for_device(const ParsedSettingsFile& file, DeviceModel device,
                                               const VoltageClass& judged, bool model_unsure,
                                               bool force) {
    std::vector<FileProblem> problems;
    if (!file.model)
        return problems;
    const ModelProfile& in_file = model_profile(*file.model);
    const ModelProfile& on_device = model_profile(device);
    if (model_unsure) {
        problems.push_back({FileProblem::Kind::ModelUnsure, 0, on_device.name, {}, {}});
        return problems;
    }
    if (in_file.family != on_device.family) {
        problems.push_back(
            {FileProblem::Kind::OtherFamily, file.model_line, in_file.name, on_device.name, {}});
        return problems;
    }
    if (force)
        return problems;
    if (!judged.established()) {
        problems.push_back({FileProblem::Kind::ClassUnknown, 0, on_device.name,
                            class_doubt_text(judged, false), class_doubt_text(judged, true)});
        return problems;
    }
    if (in_file.battery_volts != judged.volts) {
        problems.push_back(
            {FileProblem::Kind::OtherVoltage, file.model_line, in_file.name, on_device.name, {}});
        return problems;
    }
    for (const FileEntry& entry : file.entries) {
        const Variable& v = *entry.setting->variable;
        const Plausible span = v.plausible(judged.volts);
        if (!span.holds(static_cast<double>(entry.wire) / v.scale)) {
            const FileSetting& s = *entry.setting;
            const auto bound = [&s](double display) {
                return format_file_value(
                    s, static_cast<uint16_t>(std::lround(display * s.variable->scale)));
            };
            problems.push_back({FileProblem::Kind::Implausible, entry.line, s.name,
                                format_file_value(s, entry.wire),
                                bound(span.low) + " - " + bound(span.high) +
                                    (s.unit.empty() ? "" : " " + s.unit)});
        }
    }
    return problems;
}

std::vector<FileProblem> order_problems(const ParsedSettingsFile& file,
                                        std::span<const SettingDiff> rows, bool force) {
    std::vector<FileProblem> problems;
    if (force)
        return problems;
    const auto find = [&rows](const char* name) -> const SettingDiff* {
        for (const SettingDiff& row : rows) {
            if (std::string_view(row.setting->name) == name)
                return &row;
        }
        return nullptr;
    };
    const auto line_of = [&file](const SettingDiff& row) {
        for (const FileEntry& entry : file.entries) {
            if (entry.setting == row.setting)
                return entry.line;
        }
        return 0;
    };
    for (const SettingOrder& order : setting_orders()) {
        const SettingDiff* lower = find(order.lower);
        const SettingDiff* upper = find(order.upper);
        if (lower == nullptr || upper == nullptr || (!lower->file && !upper->file))
            continue;
        const uint16_t low = lower->file.value_or(lower->device);
        const uint16_t high = upper->file.value_or(upper->device);
        if (low < high)
            continue;
        const int line = lower->file ? line_of(*lower) : line_of(*upper);
        problems.push_back(
            {FileProblem::Kind::Inverted,
             line,
             std::string(order.lower) + " = " + format_file_value(*lower->setting, low),
             std::string(order.upper) + " = " + format_file_value(*upper->setting, high),
             {}});
    }
    return problems;
}

std::vector<SettingDiff> diff_settings(const ParsedSettingsFile& file, Family family,
                                       std::span<const uint16_t> device_wire) {
    std::vector<SettingDiff> rows;
    const std::span<const FileSetting> settings = file_settings(family);
    for (size_t i = 0; i < settings.size() && i < device_wire.size(); ++i) {
        SettingDiff row{&settings[i], device_wire[i], std::nullopt};
        for (const FileEntry& entry : file.entries) {
            if (entry.setting == &settings[i])
                row.file = entry.wire;
        }
        rows.push_back(row);
    }
    // Whether a setting applies depends on another one as it will be: the
    // file's value where the file has it, else the device's.
    for (SettingDiff& row : rows) {
        const FloatField governing = row.setting->variable->applies_while_zero;
        for (const SettingDiff& other : rows) {
            if (governing != nullptr && other.setting->variable->field == governing)
                row.applies = other.file.value_or(other.device) == 0;
        }
    }
    return rows;
}

std::string describe_problem(const FileProblem& p, bool ru) {
    using K = FileProblem::Kind;
    const std::string at = with_line(p, ru);
    // Names and values come from the file: shown whole, with any control
    // character escaped.
    const std::string n = printable(p.name);
    const std::string v = printable(p.value);
    switch (p.kind) {
        case K::Syntax:
            return at + (ru ? "ожидается раздел [device] или [settings], строка ИМЯ = ЗНАЧЕНИЕ "
                              "или комментарий"
                            : "expected a [device] or [settings] section, a NAME = VALUE line "
                              "or a comment");
        case K::UnknownSection:
            return at + (ru ? "неизвестный раздел [" : "unknown section [") + n + "]";
        case K::NoDeviceSection:
            return ru ? "в файле нет раздела [device]" : "the file has no [device] section";
        case K::UnknownKey:
            return at + (ru ? "неизвестный ключ «" + n + "» в разделе [device]"
                            : "unknown key '" + n + "' in [device]");
        case K::UnknownName:
            return at + (ru ? "у устройства " + v + " нет параметра «" + n + "»"
                            : "a " + v + " device has no setting '" + n + "'");
        case K::Duplicate:
            return at + (ru ? n + " задан повторно (впервые в строке " + p.extra + ")"
                            : n + " is given twice (first on line " + p.extra + ")");
        case K::NotANumber:
            return at + n + (ru ? " = «" + v + "»: не число" : " = '" + v + "': not a number");
        case K::TooPrecise:
            return at + n + " = " + v +
                   (ru ? ": устройство хранит знаков после запятой: " + p.extra
                       : ": the device keeps " + p.extra + " decimal(s)");
        case K::OutOfRange:
            return at + n + " = " + v +
                   (ru ? ": допустимые значения от 0 до " : ": out of range 0 to ") + p.extra;
        case K::BadFormat:
            return at +
                   (v.empty() ? (ru ? "не указан format" : "no format given")
                              : (ru ? "формат «" + v + "» не поддерживается"
                                    : "format '" + v + "' is not supported")) +
                   (ru ? " (программа читает format = 1)" : " (this tool reads format = 1)");
        case K::UnknownModel:
            return at +
                   (v.empty()
                        ? (ru ? "не указана модель" : "no model given")
                        : (ru ? "неизвестная модель «" + v + "»" : "unknown model '" + v + "'")) +
                   " (KX-24, KX-48, QM-24, QM-48)";
        case K::OtherFamily:
            return at + (ru ? "файл для " + n + ", а устройство — " + v
                            : "the file is for a " + n + ", the device is a " + v);
        case K::OtherVoltage:
            return at + (ru ? "файл для " + n + ", а устройство — " + v +
                                  ": пороги батареи другого напряжения опасны"
                            : "the file is for a " + n + ", the device is a " + v +
                                  ": battery thresholds of the other voltage class are "
                                  "dangerous");
        case K::TooLarge:
            return ru ? "файл больше 64 КБ: это не файл настроек"
                      : "the file is larger than 64 KiB: not a settings file";
        case K::ClassUnknown:
            return ru ? "класс напряжения устройства " + n + " не установлен: " + p.extra
                      : "the voltage class of the " + n + " is not established: " + v;
        case K::Implausible:
            return at + n + " = " + v +
                   (ru ? ": вне допустимого для класса напряжения диапазона "
                       : ": outside the span of the unit's voltage class, ") +
                   p.extra;
        case K::Inverted:
            return at + n + (ru ? " не ниже " : " is not below ") + v;
        case K::ModelUnsure:
            return ru ? std::string(
                            "модель устройства не установлена (ответ о состоянии не прошёл "
                            "проверку): ничего не записано; проверьте кабель и повторите поиск")
                      : std::string(
                            "the unit's model is not established (its status reply failed "
                            "its checks): nothing is written; check the cable and search "
                            "again");
    }
    return at;
}

FileOutcome read_settings_file(const std::string& path, ParsedSettingsFile& file) {
    std::string text;
    FileOutcome outcome = read_regular_file(path, kMaxSettingsFileBytes, text);
    if (outcome.status == FileStatus::TooLarge) {
        file = {};
        file.problems.push_back({FileProblem::Kind::TooLarge, 0, {}, {}, {}});
        return {};
    }
    if (outcome.ok())
        file = parse_settings_file(text);
    return outcome;
}

std::string settings_tool_label() {
    return std::string("zorvane ") + kToolVersion;
}

std::string utc_timestamp_now() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const sys_days day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss clock{now - day};
    std::array<char, 48> text{};
    const int n = std::snprintf(
        text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()));
    return std::string(text.data(), static_cast<size_t>(n));
}

}  // namespace zorvane
