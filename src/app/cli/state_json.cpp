#include "app/cli/state_json.h"

#include <charconv>
#include <cmath>
#include <utility>

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
    // The registry lists the single values before the arrays.
    for (const Variable& v : variables()) {
        append_key(out, v.key);
        if (v.is_array()) {
            append_array(out, state.*v.array,
                         [&](const auto& element) { append_number(out, element.load()); });
        } else {
            append_number(out, (state.*v.field).load());
        }
    }
    for (const StatusArrayRow& row : status_arrays()) {
        append_key(out, row.key);
        append_array(out, state.*row.array,
                     [&](const auto& bit) { out += std::to_string(bit.load()); });
    }
    append_key(out, "lifetime_counters");
    append_array(out, state.lifetime_counters.snapshot(),
                 [&](int32_t counter) { out += std::to_string(counter); });
    out += '}';
    return out;
}

}  // namespace zorvane::cli
