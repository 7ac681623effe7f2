// The setting-text path: any text of up to 10 characters, for every setting
// and any stored value, gives a frame whose value is the typed number scaled
// and truncated and fits the payload, or nothing (the number equals the
// stored value, or there is no text), or a refusal. A value that does not fit
// never reaches the device as some other number.
//
// The number is read here by an independent scanner (leading C blanks, sign,
// digits grouped by blanks, '.' or a comma between digits, exponent) and
// converted with strtod in the "C" locale.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

#include "device/setting_write.h"
#include "fuzz_check.h"
#include "link/frame.h"
#include "recording_port.h"

namespace zorvane::fuzz {
namespace {

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Characters that matter to a number, a unit or a word for one, then any.
constexpr char32_t kAlphabet[] = {U'0', U'1',  U'2',      U'5',      U'9',  U'.', U',', U'+',
                                  U'-', U'e',  U'E',      U' ',      U'\t', U'x', U'X', U'i',
                                  U'n', U'f',  U'a',      U'B',      U'A',  U'с', U'у', U'т',
                                  U'В', U'\0', U'\u00A0', U'\u2009', U'p'};

std::string make_text(FuzzedDataProvider& in, std::u32string& chars) {
    const int n = in.ConsumeIntegralInRange<int>(0, 10);
    std::string text;
    for (int i = 0; i < n; ++i) {
        char32_t c;
        if (in.ConsumeIntegralInRange<int>(0, 7) != 0) {
            c = kAlphabet[in.ConsumeIntegralInRange<size_t>(0, std::size(kAlphabet) - 1)];
        } else {
            c = in.ConsumeIntegralInRange<char32_t>(1, 0x10FFFF);
            if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD;  // a field never holds a lone surrogate
            }
        }
        chars += c;
        append_utf8(text, c);
    }
    return text;
}

float make_stored(FuzzedDataProvider& in, const SettingParam& p) {
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:  // what a decoder stores: a wire word over the scale
            return static_cast<float>(in.ConsumeIntegral<uint16_t>() /
                                      static_cast<double>(p.scale));
        case 1:
            return static_cast<float>(in.ConsumeIntegralInRange<int>(0, 300));
        default: {
            const float v = in.ConsumeFloatingPoint<float>();
            return std::isfinite(v) ? v : 0.0f;
        }
    }
}

struct Reading {
    enum class Kind { Empty, NotANumber, Number, Ambiguous } kind;
    double x = 0;
    bool out_of_range = false;  // strtod reported ERANGE (overflow or underflow)
    bool hex_looking = false;   // "0x…": sixteen to the C library, 0 read as decimal
};

bool c_space(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool digit(char32_t c) {
    return c >= '0' && c <= '9';
}
bool group_blank(char32_t c) {
    return c == U' ' || c == U'\u00A0' || c == U'\u2009';
}

// The first nine characters, read as a plain decimal number.
Reading read_number(const std::u32string& all) {
    const std::u32string s = all.substr(0, 9);
    size_t i = 0;
    while (i < s.size() && c_space(s[i])) {
        ++i;
    }
    if (i == s.size()) {
        return {Reading::Kind::Empty};
    }
    std::string number;
    if (s[i] == '+' || s[i] == '-') {
        number += static_cast<char>(s[i++]);
    }
    const bool hex_looking =
        i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X');
    const auto digit_at = [&s](size_t at) { return at < s.size() && digit(s[at]); };
    size_t digits = 0;
    while (digit_at(i)) {
        number += static_cast<char>(s[i++]);
        ++digits;
        if (i < s.size() && group_blank(s[i]) && digit_at(i + 1)) {
            ++i;
        }
    }
    // A comma is a decimal separator only between digits.
    if (i < s.size() && (s[i] == '.' || (s[i] == ',' && digits > 0 && digit_at(i + 1)))) {
        number += '.';
        ++i;
        while (digit_at(i)) {
            number += static_cast<char>(s[i++]);
            ++digits;
        }
    }
    if (digits == 0) {
        return {Reading::Kind::NotANumber};
    }
    if (i < s.size() && (s[i] == '.' || s[i] == ',') && digit_at(i + 1)) {
        return {Reading::Kind::Ambiguous};
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            exponent += static_cast<char>(s[j++]);
        }
        if (j < s.size() && digit(s[j])) {
            while (j < s.size() && digit(s[j])) {
                exponent += static_cast<char>(s[j++]);
            }
            number += exponent;
        }
    }
    errno = 0;
    const double x = std::strtod(number.c_str(), nullptr);
    return {Reading::Kind::Number, x, errno == ERANGE, hex_looking};
}

// The whole number the field shows for `stored`, with its unit, as read back.
bool is_shown_whole(const SettingParam& p, const std::u32string& chars, float stored) {
    if (p.whole_shown_suffix == nullptr) {
        return false;
    }
    char number[64];
    std::snprintf(number, sizeof number, "%.0f", std::round(static_cast<double>(stored)));
    std::string shown = number;
    shown += p.whole_shown_suffix;
    std::string read;
    const std::u32string first = chars.substr(0, 9);
    for (char32_t c : first) {
        append_utf8(read, c);
    }
    return shown.rfind(read, 0) == 0 && !read.empty() && (first.size() == 9 || read == shown);
}

void describe(const SettingParam& p, const std::u32string& chars, double x, float stored,
              const SettingDecision& d) {
    std::fprintf(stderr, "%s: read %.17g, stored %.9g, decision %d, frame", p.name, x,
                 static_cast<double>(stored), static_cast<int>(d.kind));
    for (int i = 0; i < d.frame_length; ++i) {
        std::fprintf(stderr, " %02X", d.frame[i]);
    }
    std::fprintf(stderr, ", text:");
    for (char32_t c : chars) {
        std::fprintf(stderr, " U+%04X", static_cast<unsigned>(c));
    }
    std::fprintf(stderr, "\n");
}

void check_decision(const SettingParam& p, const std::u32string& chars, float stored,
                    const SettingDecision& d) {
    using K = SettingDecision::Kind;
    const int max = p.payload_width == 1 ? 255 : 65535;
    if (d.kind == K::Refused) {
        FUZZ_CHECK(!d.refusal.empty());
    }
    if (d.kind == K::Send) {
        FUZZ_CHECK(d.frame_length == 3 + p.payload_width);
        FUZZ_CHECK(d.frame[0] == kFrameStart && d.frame[1] == p.write_command &&
                   d.frame[d.frame_length - 1] == kFrameEnd);
    }
    const int sent = d.kind != K::Send      ? -1
                     : p.payload_width == 1 ? d.frame[2]
                                            : d.frame[2] * 256 + d.frame[3];

    if (d.kind == K::Unchanged && is_shown_whole(p, chars, stored)) {
        return;  // the whole number the field itself shows, untouched
    }
    const Reading r = read_number(chars);
    switch (r.kind) {
        case Reading::Kind::Empty:
            // Nothing typed: written as 0 or left alone, never anything else.
            FUZZ_CHECK(d.kind != K::Send || sent == 0);
            return;
        case Reading::Kind::NotANumber:
            FUZZ_CHECK(d.kind != K::Send || sent == 0);
            return;
        case Reading::Kind::Ambiguous:
            FUZZ_CHECK(d.kind == K::Refused);
            return;
        case Reading::Kind::Number:
            break;
    }
    if ((r.out_of_range || r.hex_looking) && d.kind == K::Refused) {
        // A number beyond what a double holds, or one whose meaning depends
        // on whether hexadecimal is read, may be refused outright.
        return;
    }
    if (std::signbit(r.x)) {
        // A negative number (−0.09 included, which truncates to 0) is never
        // sent: refused, or unchanged where the device holds that very value.
        FUZZ_CHECK(d.kind == K::Refused ||
                   (d.kind == K::Unchanged && r.x == static_cast<double>(stored)));
        return;
    }
    if (r.x == static_cast<double>(stored)) {
        if (d.kind != K::Unchanged) {
            describe(p, chars, r.x, stored, d);
        }
        FUZZ_CHECK(d.kind == K::Unchanged);
        return;
    }
    const double wire = std::trunc(r.x * p.scale);
    if (std::isfinite(wire) && wire >= 0 && wire <= max) {
        if (d.kind != K::Send || sent != static_cast<int>(wire)) {
            describe(p, chars, r.x, stored, d);
        }
        FUZZ_CHECK(d.kind == K::Send && sent == static_cast<int>(wire));
    } else {
        FUZZ_CHECK(d.kind == K::Refused);
    }
}

}  // namespace
}  // namespace zorvane::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zorvane;
    using namespace zorvane::fuzz;
    FuzzedDataProvider in(data, size);
    const auto params = setting_params();
    const SettingParam& p = params[in.ConsumeIntegralInRange<size_t>(0, params.size() - 1)];
    const float stored = make_stored(in, p);
    std::u32string chars;
    const std::string text = make_text(in, chars);

    const SettingDecision d = decide_setting_write(p, text, stored);
    check_decision(p, chars, stored, d);

    // The same text through the whole write, on a scripted port: the frame
    // decided is the frame written, and only then is anything written.
    RecordingPort port;
    port.log->reads.push_back(
        {testing::ScriptedRead::Kind::Bytes,
         in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 120))});
    DeviceState state;
    state.g_worker_idle.store(1);
    state.g_com_port.store(1);
    state.g_values_read.store(1);
    (state.*p.field).store(stored);
    const SettingDecision w = write_setting(port.port, state, p, text);
    // The whole write also judges what the value means on the unit (its
    // class's span, the ordered pairs): it may refuse what the text alone
    // allows, never send what the text refuses, and a frame it sends is the
    // frame decided.
    FUZZ_CHECK(w.kind == d.kind ? w.frame == d.frame && w.frame_length == d.frame_length
                                : w.kind == SettingDecision::Kind::Refused &&
                                      d.kind != SettingDecision::Kind::Refused);
    if (w.kind == SettingDecision::Kind::Send) {
        FUZZ_CHECK(port.record.size() == 1);
        FUZZ_CHECK(port.record[0].request ==
                   std::vector<uint8_t>(w.frame.begin(), w.frame.begin() + w.frame_length));
        FUZZ_CHECK(port.record[0].reads == 1);
    } else {
        FUZZ_CHECK(port.record.empty());
    }
    FUZZ_CHECK(!port.port.is_open());
    FUZZ_CHECK(state.g_poll_pause.load() == 0);
    FUZZ_CHECK((state.*p.field).load() == stored || std::isnan(stored));
    return 0;
}
