#include "app/cli/state_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>

namespace zorvane::cli {

namespace {

using S = DeviceState;

// The single-precision values, in the order of the state record.
constexpr std::pair<const char*, FloatField> kFloatFields[] = {
    {"out_voltage", &S::out_voltage},
    {"out_current", &S::out_current},
    {"out_power", &S::out_power},
    {"bat_voltage", &S::bat_voltage},
    {"case_temperature", &S::case_temperature},
    {"bat_temperature", &S::bat_temperature},
    {"set_uout_nom", &S::set_uout_nom},
    {"set_ubat_low", &S::set_ubat_low},
    {"set_ubat_min", &S::set_ubat_min},
    {"set_ubat_min_on", &S::set_ubat_min_on},
    {"set_pmax", &S::set_pmax},
    {"set_urms_low_l", &S::set_urms_low_l},
    {"set_urms_low_h", &S::set_urms_low_h},
    {"set_urms_high_h", &S::set_urms_high_h},
    {"set_urms_high_l", &S::set_urms_high_l},
    {"set_ichrg_nom", &S::set_ichrg_nom},
    {"set_abs_end_factor", &S::set_abs_end_factor},
    {"set_abs_time", &S::set_abs_time},
    {"set_float_time", &S::set_float_time},
    {"set_rfloat_time", &S::set_rfloat_time},
    {"set_rabs_time", &S::set_rabs_time},
    {"set_egen_type", &S::set_egen_type},
    {"set_egen_ubat", &S::set_egen_ubat},
    {"set_egen_on_time", &S::set_egen_on_time},
    {"set_egen_pmax", &S::set_egen_pmax},
    {"set_egen_sleep", &S::set_egen_sleep},
    {"set_egen_work", &S::set_egen_work},
};

using DoubleArray = std::array<std::atomic<double>, 8> DeviceState::*;
constexpr std::pair<const char*, DoubleArray> kDoubleArrays[] = {
    {"temp_raw", &S::temp_raw},
    {"temperatures", &S::temperatures},
};

using BitsField = StatusBits DeviceState::*;
constexpr std::pair<const char*, BitsField> kStatusArrays[] = {
    {"kx_status1", &S::kx_status1}, {"kx_status2", &S::kx_status2}, {"qm_status1", &S::qm_status1},
    {"qm_status2", &S::qm_status2}, {"qm_status3", &S::qm_status3},
};

// Shortest text that reads back as the same value; JSON has no NaN.
template <typename Real>
void append_number(std::string& out, Real value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    (void)error;
    out.append(text, end);
}

template <typename Array, typename Append>
void append_array(std::string& out, const Array& array, Append append) {
    out += '[';
    for (size_t i = 0; i < array.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        append(array[i]);
    }
    out += ']';
}

void append_key(std::string& out, const char* key) {
    out += out.size() > 1 ? ",\"" : "\"";
    out += key;
    out += "\":";
}

// "2026-12-10T12:04:31.250Z", or null before the first accepted reply.
void append_time(std::string& out, int64_t ms_since_epoch) {
    if (ms_since_epoch <= 0) {
        out += "null";
        return;
    }
    const std::time_t seconds = static_cast<std::time_t>(ms_since_epoch / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "\"%04d-%02d-%02dT%02d:%02d:%02d.%03dZ\"", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms_since_epoch % 1000));
    out += text;
}

}  // namespace

std::string device_state_json(const DeviceState& state) {
    std::string out = "{";
    append_key(out, "g_com_port");
    out += std::to_string(state.g_com_port.load());
    append_key(out, "g_device_kind");
    out += std::to_string(state.g_device_kind.load());
    // Values that are not current are not repeated as if they were fresh.
    const bool current = state.values_current();
    append_key(out, "current");
    out += current ? "true" : "false";
    append_key(out, "last_answer");
    append_time(out, state.g_last_answer_ms.load());
    for (const auto& [key, field] : kFloatFields) {
        append_key(out, key);
        if (current)
            append_number(out, (state.*field).load());
        else
            out += "null";
    }
    for (const auto& [key, field] : kDoubleArrays) {
        append_key(out, key);
        if (current)
            append_array(out, state.*field, [&](const auto& v) { append_number(out, v.load()); });
        else
            out += "null";
    }
    for (const auto& [key, field] : kStatusArrays) {
        append_key(out, key);
        if (current)
            append_array(out, state.*field,
                         [&](const auto& bit) { out += std::to_string(bit.load()); });
        else
            out += "null";
    }
    append_key(out, "lifetime_counters");
    if (current)
        append_array(out, state.lifetime_counters.snapshot(),
                     [&](int32_t counter) { out += std::to_string(counter); });
    else
        out += "null";
    out += '}';
    return out;
}

}  // namespace zorvane::cli
