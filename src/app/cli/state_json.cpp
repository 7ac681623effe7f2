#include "app/cli/state_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "record/csv_recorder.h"
#include "state/variables.h"

namespace zorvane::cli {

namespace {

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

double rounded_to(double value, int places) {
    const double factor = std::pow(10.0, places);
    return std::isfinite(value) ? std::round(value * factor) / factor : value;
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
    out += '"';
    out += iso_utc_ms(ms_since_epoch);
    out += '"';
}

}  // namespace

std::string device_state_json(const DeviceState& state, bool rounded) {
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
    // The registry lists the single values before the arrays.
    for (const Variable& v : variables()) {
        append_key(out, v.key);
        const int places = v.kept_decimals();
        const auto shown = [&](double value) {
            append_number(out, rounded ? rounded_to(value, places) : value);
        };
        if (!current) {
            out += "null";
        } else if (v.is_array()) {
            append_array(out, state.*v.array, [&](const auto& element) { shown(element.load()); });
        } else if (rounded) {
            shown((state.*v.field).load());
        } else {
            append_number(out, (state.*v.field).load());
        }
    }
    for (const StatusArrayRow& row : status_arrays()) {
        append_key(out, row.key);
        if (current)
            append_array(out, state.*row.array,
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
