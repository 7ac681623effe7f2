#include "app/cli/state_json.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "device/state_fields.h"

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

}  // namespace

std::string device_state_json(const DeviceState& state) {
    std::string out = "{";
    append_key(out, "g_com_port");
    out += std::to_string(state.g_com_port.load());
    append_key(out, "g_device_kind");
    out += std::to_string(state.g_device_kind.load());
    for (const auto& [key, field] : state_float_fields()) {
        append_key(out, key);
        append_number(out, (state.*field).load());
    }
    for (const auto& [key, field] : state_double_arrays()) {
        append_key(out, key);
        append_array(out, state.*field, [&](const auto& v) { append_number(out, v.load()); });
    }
    for (const auto& [key, field] : state_status_bytes()) {
        append_key(out, key);
        append_array(out, state.*field,
                     [&](const auto& bit) { out += std::to_string(bit.load()); });
    }
    append_key(out, kLifetimeCountersName);
    append_array(out, state.lifetime_counters.snapshot(),
                 [&](int32_t counter) { out += std::to_string(counter); });
    out += '}';
    return out;
}

}  // namespace zorvane::cli
