#include "device/setting_write.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "device/handover.h"
#include "link/frame.h"

namespace zorvane {

namespace {

using S = DeviceState;
using P = SettingPage;

// Every settings edit of the tool. The write command is the read command of
// the same setting minus one; scale takes display units to wire units.
//   control  page              name            field               cmd  scale width shown ro
constexpr std::array kSettings = {
    SettingParam{1039, P::Kx, "UbatLow", &S::set_ubat_low, 0x4D, 10, 2, false, false},
    SettingParam{1042, P::Kx, "UbatMin", &S::set_ubat_min, 0x4F, 10, 2, false, false},
    SettingParam{1041, P::Kx, "UbatMinOn", &S::set_ubat_min_on, 0x3F, 10, 2, false, false},
    SettingParam{1040, P::Kx, "Pmax", &S::set_pmax, 0x51, 1, 2, false, false},
    SettingParam{1037, P::Kx, "UoutNom", &S::set_uout_nom, 0x4B, 10, 2, false, false},

    SettingParam{1090, P::Inverter, "UbatLow", &S::set_ubat_low, 0x4D, 10, 2, true, false},
    SettingParam{1091, P::Inverter, "UbatMin", &S::set_ubat_min, 0x4F, 10, 2, true, false},
    SettingParam{1092, P::Inverter, "UbatMinOn", &S::set_ubat_min_on, 0x3F, 10, 2, true, false},
    SettingParam{1093, P::Inverter, "Pmax", &S::set_pmax, 0x51, 1, 2, true, false},
    SettingParam{1094, P::Inverter, "UrmsNom", &S::set_uout_nom, 0x4B, 10, 2, true, false},

    SettingParam{1095, P::MainsTransfer, "UrmslowL", &S::set_urms_low_l, 0x57, 10, 2, true, false},
    SettingParam{1097, P::MainsTransfer, "UrmshighH", &S::set_urms_high_h, 0x5B, 10, 2, true,
                 false},
    SettingParam{1096, P::MainsTransfer, "UrmslowH", &S::set_urms_low_h, 0x59, 10, 2, true, false},
    SettingParam{1098, P::MainsTransfer, "UrmshighL", &S::set_urms_high_l, 0x5D, 10, 2, true,
                 false},

    SettingParam{1099, P::Charger, "FloatTime", &S::set_float_time, 0x65, 1, 2, true, false},
    SettingParam{1100, P::Charger, "RFloatTime", &S::set_rfloat_time, 0x67, 1440, 2, true, false,
                 " сут."},
    SettingParam{1101, P::Charger, "RAbsTime", &S::set_rabs_time, 0x69, 1, 2, true, false},
    SettingParam{1102, P::Charger, "IchrgNom", &S::set_ichrg_nom, 0x5F, 10, 2, true, false},
    SettingParam{1084, P::Charger, "AbsEndFactor", &S::set_abs_end_factor, 0x61, 1, 1, true, false},
    SettingParam{1086, P::Charger, "AbsTime", &S::set_abs_time, 0x63, 1, 2, true, false},

    SettingParam{1126, P::Generator, "EGenType", &S::set_egen_type, 0x6B, 1, 1, true, false},
    SettingParam{1082, P::Generator, "EGenOnTime", &S::set_egen_on_time, 0x6F, 1, 2, true, true},
    SettingParam{1080, P::Generator, "EGenPmax", &S::set_egen_pmax, 0x71, 1, 2, true, false},
    SettingParam{1081, P::Generator, "EGenSleep", &S::set_egen_sleep, 0x73, 1, 1, true, false},
    SettingParam{1083, P::Generator, "EGenWork", &S::set_egen_work, 0x75, 1, 2, true, false},
};

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
    PortLoan loan(port, state);
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
    // Halves away from zero: 2.5 days is shown as 3.
    const double whole = std::round(static_cast<double>(stored));
    char number[32];
    auto [end, error] =
        std::to_chars(number, number + sizeof number, whole, std::chars_format::fixed, 0);
    (void)error;
    return std::string(number, end) +
           (param.whole_shown_suffix != nullptr ? param.whole_shown_suffix : "");
}

std::span<const SettingParam> setting_params() {
    return kSettings;
}

const SettingParam* find_setting(int control_id) {
    for (const SettingParam& param : kSettings) {
        if (param.control_id == control_id) {
            return &param;
        }
    }
    return nullptr;
}

const SettingParam* find_setting(std::string_view name, int family) {
    for (const SettingParam& param : kSettings) {
        const bool kx_row = param.page == SettingPage::Kx;
        if (kx_row == (family == 1) && name == param.name) {
            return &param;
        }
    }
    return nullptr;
}

double setting_max_display(const SettingParam& param) {
    return static_cast<double>(max_wire_value(param)) / param.scale;
}

SettingDecision decide_setting_write(const SettingParam& param, std::string_view text,
                                     float stored_value) {
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
    // Exact comparison: the typed number in double precision against the
    // stored single-precision value widened without rounding.
    if (x == static_cast<double>(stored_value)) {
        return {};
    }
    return decide_setting_wire(param, std::trunc(x * param.scale));
}

SettingDecision decide_setting_wire(const SettingParam& param, double wire) {
    if (!std::isfinite(wire) || wire < 0 || wire > max_wire_value(param)) {
        return refused(param, "допустимые значения");
    }
    return fixed_frame(param.write_command, param.payload_width, static_cast<uint16_t>(wire));
}

SettingDecision write_setting(SerialPort& port, DeviceState& state, const SettingParam& param,
                              std::string_view text) {
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
    SettingDecision decision = decide_setting_write(param, text, (state.*param.field).load());
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
