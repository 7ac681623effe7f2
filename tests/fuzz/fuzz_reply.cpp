// Reply acceptance and decoding on arbitrary bytes and byte counts, for every
// row of the catalogue and for the status, counters, battery and serial-number
// replies. The reply is handed over in a buffer of exactly the byte count (and
// decoded from one of exactly the reply length), so a rule or a decoder that
// looks past what arrived trips the address sanitizer.
//
// Input: kind selector, byte count (-1..100), a flag that plants the frame
// markers (so that decoding is reached often), then the reply bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "link/frame.h"
#include "link/reply_catalogue.h"

namespace zorvane::fuzz {
namespace {

const char* field_name(FloatField field) {
    for (const NamedField& f : float_fields()) {
        if (f.field == field) {
            return f.name;
        }
    }
    FUZZ_CHECK(!"catalogue field missing from the state image");
    return "";
}

uint16_t be16(const uint8_t* b, int i) {
    return static_cast<uint16_t>(b[i] * 256 + b[i + 1]);
}

// The bytes the device sent, in a buffer that ends where the count ends.
std::vector<uint8_t> received(const std::vector<uint8_t>& raw, int count) {
    return std::vector<uint8_t>(raw.begin(), raw.begin() + std::max(count, 0));
}

// The accepted reply cut to its length, for the decoder.
std::vector<uint8_t> cut(const std::vector<uint8_t>& raw, int length) {
    return std::vector<uint8_t>(raw.begin(), raw.begin() + length);
}

void expect_changed(const StateImage& before, const StateImage& after,
                    const std::set<std::string>& expected) {
    const std::vector<std::string> diff = changed(before, after);
    const std::set<std::string> got(diff.begin(), diff.end());
    if (got != expected) {
        for (const std::string& name : diff) {
            std::fprintf(stderr, "changed: %s\n", name.c_str());
        }
        FUZZ_CHECK(got == expected);
    }
}

void check_catalogue_entry(const ReplyEntry& entry, const std::vector<uint8_t>& raw, int count) {
    const int length = entry.length;
    const std::vector<uint8_t> in = received(raw, count);
    const bool rule = count >= length && raw[0] == 0xBE && raw[1] == (entry.code | 0x80) &&
                      raw[length - 1] == 0xAA;
    const bool accepted = reply_valid(in.data(), count, entry.code, length);
    FUZZ_CHECK(accepted == rule);
    if (!accepted) {
        return;
    }
    const std::vector<uint8_t> reply = cut(raw, length);
    DeviceState state;
    fill_sentinels(state);
    const StateImage before = capture(state);
    decode_reply(entry, reply.data(), state);
    const StateImage after = capture(state);
    const uint8_t* r = reply.data();
    const Variable* single = entry.variables.size() == 1 ? entry.variables[0] : nullptr;
    const bool setting_like =
        single != nullptr && !single->is_array() && single->conversion == Conversion::Scaled;

    if (setting_like && length == 5) {
        const float v = (state.*single->field).load();
        FUZZ_CHECK(std::isfinite(v) && v >= 0.0f);
        FUZZ_CHECK(v == static_cast<float>(be16(r, 2) / static_cast<double>(single->scale)));
        expect_changed(before, after, {field_name(single->field)});
    } else if (setting_like && length == 4) {
        FUZZ_CHECK((state.*single->field).load() == static_cast<float>(r[2]));
        expect_changed(before, after, {field_name(single->field)});
    } else if (entry.code == 0x41) {
        FUZZ_CHECK(length == 11);
        FUZZ_CHECK(state.out_voltage.load() == static_cast<float>(be16(r, 2) / 10.0));
        FUZZ_CHECK(state.out_current.load() == static_cast<float>(be16(r, 4) / 100.0));
        FUZZ_CHECK(state.out_power.load() == static_cast<float>(be16(r, 6)));
        FUZZ_CHECK(state.bat_voltage.load() == static_cast<float>(be16(r, 8) / 10.0));
        expect_changed(before, after, {"out_voltage", "out_current", "out_power", "bat_voltage"});
    } else if (entry.code == 0x46) {
        FUZZ_CHECK(length == 19);
        std::set<std::string> names;
        for (int i = 0; i < 8; ++i) {
            const uint16_t x = be16(r, 2 + 2 * i);
            FUZZ_CHECK(state.temp_raw[i].load() == x);
            const double t = state.temperatures[i].load();
            // A thermistor reading inside 1..2047 is a temperature; the rest
            // have no finite result and must read as NaN, never as a number.
            if (x >= 1 && x <= 2047) {
                FUZZ_CHECK(std::isfinite(t) && t > -273.2 && t < 1000.0);
            } else {
                FUZZ_CHECK(std::isnan(t));
            }
            names.insert("temp_raw[" + std::to_string(i) + "]");
            names.insert("temperatures[" + std::to_string(i) + "]");
        }
        expect_changed(before, after, names);
    } else if (entry.code == 0x47) {
        FUZZ_CHECK(length == 5);
        const float t = state.case_temperature.load();
        FUZZ_CHECK(std::isfinite(t) && t >= -50.0f && t <= 16000.0f);
        expect_changed(before, after, {"case_temperature"});
    } else {
        FUZZ_CHECK(!"catalogue row with an unknown decoder");
    }
}

void check_status(const std::vector<uint8_t>& raw, int count) {
    const std::vector<uint8_t> in = received(raw, count);
    const bool rule =
        (count == 5 || count == 6) && raw[0] == 0xBE && raw[1] == 0xCA && raw[count - 1] == 0xAA;
    FUZZ_CHECK(status_reply_valid(in.data(), count) == rule);
    if (!rule) {
        return;
    }
    DeviceState state;
    fill_sentinels(state);
    const StateImage before = capture(state);
    store_status(state, in.data(), count);
    const StateImage after = capture(state);
    const char* names5[] = {"kx_status1", "kx_status2"};
    const char* names6[] = {"qm_status1", "qm_status2", "qm_status3"};
    const StatusBits* arrays5[] = {&state.kx_status1, &state.kx_status2};
    const StatusBits* arrays6[] = {&state.qm_status1, &state.qm_status2, &state.qm_status3};
    const int bytes = count - 3;
    std::set<std::string> expected;
    for (int a = 0; a < bytes; ++a) {
        const StatusBits& bits = count == 5 ? *arrays5[a] : *arrays6[a];
        for (int i = 0; i < 8; ++i) {
            const int32_t v = bits[i].load();
            FUZZ_CHECK(v == 0 || v == 1);
            FUZZ_CHECK(v == ((in[2 + a] >> i) & 1));
            expected.insert(std::string(count == 5 ? names5[a] : names6[a]) + "[" +
                            std::to_string(i) + "]");
        }
    }
    expect_changed(before, after, expected);
}

void check_counters(const std::vector<uint8_t>& raw, int count, int expected_length) {
    FUZZ_CHECK(counters_reply_valid(count, expected_length) == (count == expected_length));
    if (count != expected_length) {
        return;
    }
    const std::vector<uint8_t> reply = cut(raw, expected_length);
    const uint8_t* r = reply.data();
    const CounterValues c = decode_counters(r, expected_length);
    FUZZ_CHECK(c[0] == be16(r, 2));
    for (int k = 1; k <= 5; ++k) {
        const int i = 4 * k;
        const uint32_t v = static_cast<uint32_t>(r[i]) << 24 |
                           static_cast<uint32_t>(r[i + 1]) << 16 |
                           static_cast<uint32_t>(r[i + 2]) << 8 | r[i + 3];
        FUZZ_CHECK(static_cast<uint32_t>(c[k]) == v);
    }
    for (int k = 6; k <= 9; ++k) {
        FUZZ_CHECK(c[k] == be16(r, 24 + 2 * (k - 6)));
    }
    const int last = expected_length == 47 ? 16 : 15;
    for (int k = 10; k <= 16; ++k) {
        FUZZ_CHECK(c[k] >= 0 && c[k] <= 510);
        if (k <= last) {
            const int i = 32 + 2 * (k - 10);
            FUZZ_CHECK(c[k] == r[i] + r[i + 1]);
        } else {
            FUZZ_CHECK(c[k] == 0);
        }
    }
}

void check_battery(const std::vector<uint8_t>& raw, int count) {
    const std::vector<uint8_t> in = received(raw, count);
    const bool rule = count >= 5 && raw[0] == 0xBE && raw[1] == 0xC5 && raw[4] == 0xAA;
    FUZZ_CHECK(battery_reply_valid(in.data(), count) == rule);
    if (!rule) {
        return;
    }
    const std::vector<uint8_t> reply = cut(raw, 5);
    const float v = decode_battery_voltage(reply.data());
    FUZZ_CHECK(std::isfinite(v) && v >= 0.0f && v <= 6553.5f);
    FUZZ_CHECK(v == static_cast<float>(be16(reply.data(), 2) / 10.0));
}

// Number of code points of valid UTF-8 text, or -1.
int utf8_length(const std::string& s) {
    int points = 0;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<uint8_t>(s[i]);
        const size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 0;
        if (n == 0 || i + n > s.size()) {
            return -1;
        }
        for (size_t j = 1; j < n; ++j) {
            if ((static_cast<uint8_t>(s[i + j]) & 0xC0) != 0x80) {
                return -1;
            }
        }
        i += n;
        ++points;
    }
    return points;
}

void check_serial(const std::vector<uint8_t>& raw, int count) {
    const std::vector<uint8_t> in = received(raw, count);
    const bool rule = count == 13 && raw[0] == 0xBE && raw[1] == 0xD6 && raw[12] == 0xAA;
    FUZZ_CHECK(serial_reply_valid(in.data(), count) == rule);
    if (!rule) {
        return;
    }
    const std::string text = decode_serial_number(in.data());
    if (in[2] == 0xFF) {
        FUZZ_CHECK(text == kSerialNotAssigned);
        return;
    }
    int digits = 0;
    while (digits < 10 && in[2 + digits] != 0) {
        ++digits;
    }
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    FUZZ_CHECK(utf8_length(text) == digits);
}

}  // namespace
}  // namespace zorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zorvane;
    using namespace zorvane::fuzz;
    FuzzedDataProvider in(data, size);
    const auto catalogue = reply_catalogue();
    const int kinds = static_cast<int>(catalogue.size()) + 6;
    const int kind = in.ConsumeIntegralInRange<int>(0, kinds - 1);
    const int count = in.ConsumeIntegralInRange<int>(-1, static_cast<int>(kFrameBufferSize));
    const bool plant_markers = in.ConsumeBool();
    // For the free-form kind: any code and any length, also nonsensical ones.
    const uint8_t free_code = in.ConsumeIntegral<uint8_t>();
    const int free_length = in.ConsumeIntegralInRange<int>(-2, 110);

    std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(kFrameBufferSize);
    raw.resize(kFrameBufferSize, 0);

    const size_t extra = static_cast<size_t>(kind) - catalogue.size();
    auto plant = [&](uint8_t code, int length) {
        if (plant_markers && length >= 3 && length <= static_cast<int>(raw.size())) {
            raw[0] = 0xBE;
            raw[1] = code | 0x80;
            raw[length - 1] = 0xAA;
        }
    };

    if (static_cast<size_t>(kind) < catalogue.size()) {
        const ReplyEntry& entry = catalogue[kind];
        plant(entry.code, entry.length);
        check_catalogue_entry(entry, raw, count);
    } else if (extra == 0) {
        plant(cmd::kStatus, count);
        check_status(raw, count);
    } else if (extra == 1 || extra == 2) {
        check_counters(raw, count, extra == 1 ? kCountersKxLength : kCountersQmLength);
    } else if (extra == 3) {
        plant(cmd::kBatteryProbe, kBatteryProbeLength);
        check_battery(raw, count);
    } else if (extra == 4) {
        plant(cmd::kSerialNumber, kSerialNumberLength);
        check_serial(raw, count);
    } else {
        plant(free_code, free_length);
        const std::vector<uint8_t> got = received(raw, count);
        if (reply_valid(got.data(), count, free_code, free_length)) {
            FUZZ_CHECK(free_length >= 3 && count >= free_length && raw[0] == 0xBE &&
                       raw[1] == (free_code | 0x80) && raw[free_length - 1] == 0xAA);
        } else if (free_length >= 3) {
            FUZZ_CHECK(!(count >= free_length && raw[0] == 0xBE && raw[1] == (free_code | 0x80) &&
                         raw[free_length - 1] == 0xAA));
        }
    }
    return 0;
}
