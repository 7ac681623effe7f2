#include "device/setting_write.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "device/handover.h"
#include "link/frame.h"
#include "state/variables.h"

namespace zorvane {

namespace {

// Every settings edit of the tool, one per registry setting and page that
// shows it as a text field (a choice is picked from a list instead).
std::vector<SettingParam> build_settings() {
    std::vector<SettingParam> out;
    for (const Variable& v : variables()) {
        if (!v.writable() || v.choice) {
            continue;
        }
        const auto row = [&v](int control, SettingPage page, Family family) {
            return SettingParam{.control_id = control,
                                .page = page,
                                .name = v.name_for(family),
                                .field = v.field,
                                .write_command = v.write_code,
                                .scale = v.scale,
                                .payload_width = v.width,
                                .shown_guard = page != SettingPage::Kx,
                                .read_only_guard = v.applies_while_zero != nullptr,
                                .whole_shown_suffix = v.whole_shown_suffix(),
                                .variable = &v};
        };
        if (v.kx_control != 0) {
            out.push_back(row(v.kx_control, SettingPage::Kx, Family::Kx));
        }
        if (v.qm_control != 0) {
            out.push_back(row(v.qm_control,
                              static_cast<SettingPage>(static_cast<int>(v.qm_tab) + 1),
                              Family::Qm));
        }
    }
    return out;
}

const std::vector<SettingParam>& settings() {
    static const std::vector<SettingParam> table = build_settings();
    return table;
}

constexpr int kTextCharacters = 9;  // the edit's text is read into 10 wide characters

// The first `limit` characters (code points, not bytes) of UTF-8 text.
std::string_view first_characters(std::string_view text, int limit) {
    int started = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        if (!continuation && started++ == limit) {
            return text.substr(0, i);
        }
    }
    return text;
}

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trim_text(std::string_view text) {
    while (!text.empty() && is_c_space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_c_space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

enum class Parsed { Number, Empty, NotANumber, Ambiguous };

// Blanks a technician puts between digit groups: space, no-break space, thin
// space. Returns the length in bytes of the one at `i`, or 0.
size_t group_blank_at(std::string_view text, size_t i) {
    if (text.substr(i, 1) == " ") {
        return 1;
    }
    if (text.substr(i, 2) == "\u00A0") {
        return 2;
    }
    if (text.substr(i, 3) == "\u2009") {
        return 3;
    }
    return 0;
}

bool digit_at(std::string_view text, size_t i) {
    return i < text.size() && is_digit(text[i]);
}

// A decimal number as a technician writes it: leading C blanks skipped,
// optional sign, digits that may be grouped by blanks ("3 000"), a decimal
// point or a comma between digits ("26,5"), an optional exponent; reading
// stops at the first character that cannot continue the number, so a unit
// after it is ignored. A second separator followed by a digit ("1,234.5",
// "2,5,1") leaves no single reading. Words for infinity or not-a-number and
// hexadecimal numbers are not numbers here.
Parsed parse_leading_number(std::string_view text, double& value) {
    size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) {
        ++i;
    }
    if (i == text.size()) {
        return Parsed::Empty;
    }
    std::string number;
    if (text[i] == '+' || text[i] == '-') {
        number += text[i];
        ++i;
    }
    const auto separator_at = [&](size_t at) {
        return at < text.size() && (text[at] == '.' || text[at] == ',');
    };
    const bool starts_number = digit_at(text, i) || (text[i] == '.' && digit_at(text, i + 1));
    // "0x10" is sixteen to the C library; read as decimal it would be 0, a
    // different number from the one meant, so it is no number here.
    const bool hexadecimal = starts_number && text[i] == '0' && i + 1 < text.size() &&
                             (text[i + 1] == 'x' || text[i + 1] == 'X');
    if (!starts_number || hexadecimal) {
        return Parsed::NotANumber;
    }
    while (digit_at(text, i)) {
        number += text[i++];
        const size_t blank = group_blank_at(text, i);
        if (blank != 0 && digit_at(text, i + blank)) {
            i += blank;
        }
    }
    // A point may end the digits ("5." is 5); a comma counts only between
    // digits, anything else after the number being its unit.
    if (i < text.size() && (text[i] == '.' || (text[i] == ',' && digit_at(text, i + 1)))) {
        number += '.';
        ++i;
        while (digit_at(text, i)) {
            number += text[i++];
        }
    }
    if (separator_at(i) && digit_at(text, i + 1)) {
        return Parsed::Ambiguous;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        if (digit_at(text, j)) {
            number.append(text.substr(i, j - i));
            while (digit_at(text, j)) {
                number += text[j++];
            }
        }
    }
    const bool negative = number[0] == '-';
    const size_t skip = (number[0] == '-' || number[0] == '+') ? 1 : 0;
    double magnitude = 0;
    const auto [end, error] =
        std::from_chars(number.data() + skip, number.data() + number.size(), magnitude);
    (void)end;
    if (error != std::errc{}) {
        // Beyond the range of a double either way; no payload holds it.
        return Parsed::NotANumber;
    }
    value = negative ? -magnitude : magnitude;
    return Parsed::Number;
}

int max_wire_value(const SettingParam& param) {
    return param.payload_width == 1 ? 0xFF : 0xFFFF;
}

// "6553.5", "45.51", "65535": the display-unit limit, rounded down to two
// decimals so that every number up to it is accepted.
std::string format_limit(double limit) {
    const double hundredths = std::floor(limit * 100.0);
    char text[32];
    auto [end, error] =
        std::to_chars(text, text + sizeof text, hundredths / 100.0, std::chars_format::fixed, 2);
    (void)error;
    std::string out(text, end);
    while (out.back() == '0') {
        out.pop_back();
    }
    if (out.back() == '.') {
        out.pop_back();
    }
    return out;
}

SettingDecision refused(const SettingParam& param, const char* what) {
    SettingDecision decision;
    decision.kind = SettingDecision::Kind::Refused;
    decision.refusal = std::string(param.name) + ": " + what + " от 0 до " +
                       format_limit(setting_max_display(param));
    return decision;
}

SettingDecision refusal(std::string text, bool overridable = false) {
    SettingDecision decision;
    decision.kind = SettingDecision::Kind::Refused;
    decision.refusal = std::move(text);
    decision.overridable = overridable;
    return decision;
}

Family family_of_page(SettingPage page) {
    return page == SettingPage::Kx ? Family::Kx : Family::Qm;
}

// Digits after the point that the setting's scale keeps: 1 for tenths.
int scale_decimals(int scale) {
    int decimals = 0;
    for (int power = 1; power < scale && decimals < 4; power *= 10) {
        ++decimals;
    }
    return decimals;
}

// `decimals` digits after the point; with `trim`, trailing zeros dropped.
std::string number_text(double value, int decimals, bool trim = true) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string out = text;
    if (trim && out.find('.') != std::string::npos) {
        while (out.back() == '0') {
            out.pop_back();
        }
        if (out.back() == '.') {
            out.pop_back();
        }
    }
    return out;
}

bool is_shown_text(const SettingParam& param, std::string_view text, float stored) {
    return text == first_characters(whole_shown_text(param, stored), kTextCharacters);
}

// One write of a frame on the borrowed port: a single read follows, and the
// reply is not examined.
void transmit(SerialPort& port, SettingDecision& decision) {
    std::array<uint8_t, kFrameBufferSize> buffer{};
    std::copy_n(decision.frame.begin(), decision.frame_length, buffer.begin());
    decision.sent = transact(port, buffer, decision.frame_length, 0) >= 0;
}

SettingDecision send_frame(SerialPort& port, DeviceState& state, SettingDecision decision) {
    if (model_unsure(state)) {
        return refusal(kModelUnsureText);
    }
    PortLoan loan(port, state);
    // Whatever answers on a lost unit's port is not known to be that unit.
    if (state.g_link_lost_ms.load() != 0) {
        decision.kind = SettingDecision::Kind::Refused;
        decision.refusal = kLinkDownText;
        return decision;
    }
    transmit(port, decision);
    return decision;
}

SettingDecision fixed_frame(uint8_t command, int width, uint16_t value) {
    SettingDecision decision;
    decision.kind = SettingDecision::Kind::Send;
    if (width == 0) {
        decision.frame_length = build_request(decision.frame, command);
    } else if (width == 1) {
        decision.frame_length =
            build_request_u8(decision.frame, command, static_cast<uint8_t>(value));
    } else {
        decision.frame_length = build_request_u16(decision.frame, command, value);
    }
    return decision;
}

}  // namespace

std::string whole_shown_text(const SettingParam& param, float stored) {
    return whole_shown_text(param.whole_shown_suffix, stored);
}

std::string whole_shown_text(const char* suffix, float stored) {
    // Halves away from zero: 2.5 days is shown as 3.
    const double whole = std::round(static_cast<double>(stored));
    char number[32];
    auto [end, error] =
        std::to_chars(number, number + sizeof number, whole, std::chars_format::fixed, 0);
    (void)error;
    return std::string(number, end) + (suffix != nullptr ? suffix : "");
}

std::span<const SettingParam> setting_params() {
    return settings();
}

const SettingParam* find_setting(int control_id) {
    for (const SettingParam& param : settings()) {
        if (param.control_id == control_id) {
            return &param;
        }
    }
    return nullptr;
}

const SettingParam* find_setting(std::string_view name, Family family) {
    for (const SettingParam& param : settings()) {
        const bool kx_row = param.page == SettingPage::Kx;
        if (kx_row == (family == Family::Kx) && name == param.name) {
            return &param;
        }
    }
    return nullptr;
}

double setting_max_display(const SettingParam& param) {
    return static_cast<double>(max_wire_value(param)) / param.scale;
}

std::string display_value_text(const SettingParam& param, double wire) {
    const int decimals = scale_decimals(param.scale);
    const bool power_of_ten = std::pow(10.0, decimals) == param.scale;
    // A scale that is no power of ten (days kept in minutes) shows no
    // trailing zeros; tenths show as the field does ("210.0").
    return number_text(wire / param.scale, power_of_ten ? decimals : 4, !power_of_ten);
}

bool model_unsure(const DeviceState& state) {
    return state.g_model_unsure.load() != 0;
}

SettingDecision decide_setting_write(const SettingParam& param, std::string_view text,
                                     float stored_value, bool exact) {
    const std::string_view read = first_characters(text, kTextCharacters);
    if (param.whole_shown_suffix != nullptr && is_shown_text(param, read, stored_value)) {
        return {};
    }
    double x = 0;
    switch (parse_leading_number(read, x)) {
        case Parsed::Empty:
            return {};
        case Parsed::NotANumber:
            return refused(param, "введите число");
        case Parsed::Ambiguous:
            return refused(param, "допустимые значения");
        case Parsed::Number:
            break;
    }
    // A negative number is refused, even one that truncates to zero (-0.09).
    if (x < 0 || std::signbit(x)) {
        return refusal(std::string(param.name) + ": отрицательное значение " +
                       std::string(trim_text(read)) + " не принимается, ничего не записано");
    }
    // Exact comparison: the typed number in double precision against the
    // stored single-precision value widened without rounding.
    if (x == static_cast<double>(stored_value)) {
        return {};
    }
    const double scaled = x * param.scale;
    if (!exact || !std::isfinite(scaled)) {
        return decide_setting_wire(param, std::trunc(scaled));
    }
    // Typed text, not a field: a number the device cannot hold is not
    // silently cut to one it can.
    const double nearest = std::round(scaled);
    if (std::fabs(scaled - nearest) > 1e-6 * std::fmax(1.0, std::fabs(scaled))) {
        const double below = std::floor(scaled);
        return refusal(std::string(param.name) + ": " + std::string(trim_text(read)) +
                       " точнее, чем хранит устройство; ближайшие значения " +
                       display_value_text(param, below) + " и " +
                       display_value_text(param, below + 1) + ", ничего не записано");
    }
    return decide_setting_wire(param, nearest);
}

SettingDecision judge_setting_value(const DeviceState& state, const SettingParam& param,
                                    uint16_t wire) {
    SettingDecision send;
    send.kind = SettingDecision::Kind::Send;
    const Variable* v = param.variable;
    if (v == nullptr) {
        return send;
    }
    const std::string value = display_value_text(param, wire);
    const VoltageClass judged = judge_voltage_class(state);
    if (v->class_ranged() && !judged.established()) {
        return refusal(std::string(param.name) + " = " + value +
                           ": класс напряжения устройства не установлен (" +
                           class_doubt_text(judged, true) + "), ничего не записано",
                       true);
    }
    const Plausible span = v->plausible(judged.established() ? judged.volts : 24);
    if (!span.holds(static_cast<double>(wire) / param.scale)) {
        const std::string where =
            v->class_ranged() ? " для устройства " + std::to_string(judged.volts) + " В" : "";
        return refusal(std::string(param.name) + " = " + value + ": вне диапазона" + where +
                           " от " + number_text(span.low, 2) + " до " + number_text(span.high, 2) +
                           " " + v->unit + ", ничего не записано",
                       true);
    }
    const Family family = family_of_page(param.page);
    for (const SettingOrder& order : setting_orders()) {
        const bool lower = param.name == std::string_view(order.lower);
        if (!has_family(order.families, family) ||
            (!lower && param.name != std::string_view(order.upper))) {
            continue;
        }
        const Variable* partner = find_setting_variable(lower ? order.upper : order.lower, family);
        if (partner == nullptr) {
            continue;
        }
        const double held = std::round((state.*partner->field).load() * partner->scale);
        if (lower ? wire < held : wire > held) {
            continue;
        }
        const std::string held_text = display_value_text(param, held);
        return refusal(std::string(param.name) + " = " + value +
                           (lower ? " не ниже " : " не выше ") + partner->name_for(family) + " = " +
                           held_text + ": " + order.lower + " должен быть ниже " + order.upper +
                           ", ничего не записано",
                       true);
    }
    return send;
}

SettingDecision decide_setting_wire(const SettingParam& param, double wire) {
    if (!std::isfinite(wire) || wire < 0 || wire > max_wire_value(param)) {
        return refused(param, "допустимые значения");
    }
    return fixed_frame(param.write_command, param.payload_width, static_cast<uint16_t>(wire));
}

SettingDecision write_setting(SerialPort& port, DeviceState& state, const SettingParam& param,
                              std::string_view text, const WriteOptions& options) {
    // The stored value is read once the worker is parked, so it is the value
    // of a finished pass.
    PortLoan loan(port, state);
    // A value not read from this device (none yet, the device changed, or it
    // stopped answering) is no ground for a comparison: nothing is written.
    if (!state.values_current()) {
        SettingDecision decision;
        decision.kind = SettingDecision::Kind::Refused;
        decision.refusal = std::string(param.name) + ": " + kValueUnknownText;
        return decision;
    }
    if (model_unsure(state)) {
        return refusal(std::string(param.name) + ": " + kModelUnsureText);
    }
    SettingDecision decision =
        decide_setting_write(param, text, (state.*param.field).load(), options.exact);
    if (decision.kind == SettingDecision::Kind::Send && !options.confirmed) {
        const auto wire = static_cast<uint16_t>(param.payload_width == 1
                                                    ? decision.frame[2]
                                                    : decision.frame[2] * 256 + decision.frame[3]);
        const SettingDecision judged = judge_setting_value(state, param, wire);
        if (judged.kind == SettingDecision::Kind::Refused) {
            return judged;
        }
    }
    if (decision.kind == SettingDecision::Kind::Send) {
        transmit(port, decision);
    }
    return decision;
}

SettingDecision write_setting_wire(SerialPort& port, DeviceState& state, const SettingParam& param,
                                   double wire) {
    SettingDecision decision = decide_setting_wire(param, wire);
    if (decision.kind == SettingDecision::Kind::Send) {
        decision = send_frame(port, state, decision);
    }
    return decision;
}

SettingDecision write_fixed_u8(SerialPort& port, DeviceState& state, uint8_t command,
                               uint8_t value) {
    return send_frame(port, state, fixed_frame(command, 1, value));
}

SettingDecision write_fixed_u16(SerialPort& port, DeviceState& state, uint8_t command,
                                uint16_t value) {
    return send_frame(port, state, fixed_frame(command, 2, value));
}

SettingDecision send_action(SerialPort& port, DeviceState& state, uint8_t command) {
    return send_frame(port, state, fixed_frame(command, 0, 0));
}

}  // namespace zorvane
