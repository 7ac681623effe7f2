// A bit-exact image of DeviceState, to tell which stored values an operation
// changed (NaN compares equal to itself), and sentinel values that no
// decoder produces, to tell a field that was written from one that was not.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "state/device_state.h"
#include "state/variables.h"

namespace zorvane::testing {

// Every float field of DeviceState that a reply can fill, by its key.
struct NamedField {
    const char* name;
    FloatField field;
};
inline const std::vector<NamedField>& float_fields() {
    static const std::vector<NamedField> fields = [] {
        std::vector<NamedField> out;
        for (const Variable& v : variables()) {
            if (!v.is_array()) {
                out.push_back({v.key, v.field});
            }
        }
        return out;
    }();
    return fields;
}

// A value no decoder produces, so that a field still holding it was not
// written. Negative and fractional in a way no divisor gives.
inline constexpr float kSentinel = -4321.125f;
inline constexpr int32_t kSentinelCounter = -77;
inline constexpr int32_t kSentinelBit = 7;

inline void fill_sentinels(DeviceState& state) {
    for (const NamedField& f : float_fields()) {
        (state.*f.field).store(kSentinel);
    }
    for (int i = 0; i < 8; ++i) {
        state.temp_raw[i].store(kSentinel);
        state.temperatures[i].store(kSentinel);
        for (const StatusArrayRow& row : status_arrays()) {
            (state.*row.array)[i].store(kSentinelBit);
        }
    }
    CounterValues counters;
    counters.fill(kSentinelCounter);
    state.lifetime_counters.publish(counters);
}

// One entry per stored value, as raw bits (NaN compares equal to itself).
// Names are built only when a difference is reported.
struct StateImage {
    std::vector<uint64_t> bits;
};

inline uint64_t bits_of(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}
inline uint64_t bits_of(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Visits every stored value in a fixed order: the float fields, then per
// index the raw and converted temperatures and the five status arrays, then
// the counters.
template <typename Visit>
void visit_state(const DeviceState& s, Visit visit) {
    for (const NamedField& f : float_fields()) {
        visit([&f] { return std::string(f.name); }, bits_of((s.*f.field).load()));
    }
    for (int i = 0; i < 8; ++i) {
        const std::string index = "[" + std::to_string(i) + "]";
        visit([&index] { return "temp_raw" + index; }, bits_of(s.temp_raw[i].load()));
        visit([&index] { return "temperatures" + index; }, bits_of(s.temperatures[i].load()));
        for (const StatusArrayRow& row : status_arrays()) {
            visit([&index, &row] { return row.key + index; },
                  static_cast<uint32_t>((s.*row.array)[i].load()));
        }
    }
    const CounterValues counters = s.lifetime_counters.snapshot();
    for (int k = 0; k < kCounterCount; ++k) {
        visit([k] { return "counter " + std::to_string(k); }, static_cast<uint32_t>(counters[k]));
    }
}

inline StateImage capture(const DeviceState& s) {
    StateImage img;
    img.bits.reserve(128);
    visit_state(s, [&img](auto, uint64_t bits) { img.bits.push_back(bits); });
    return img;
}

// The name of each entry of an image, in order.
inline const std::vector<std::string>& state_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        DeviceState empty;
        visit_state(empty, [&n](auto name, uint64_t) { n.push_back(name()); });
        return n;
    }();
    return names;
}

// Names of the values that differ between two images.
inline std::vector<std::string> changed(const StateImage& a, const StateImage& b) {
    std::vector<std::string> out;
    if (a.bits == b.bits) {
        return out;
    }
    for (size_t i = 0; i < a.bits.size(); ++i) {
        if (a.bits[i] != b.bits[i]) {
            out.push_back(state_names()[i]);
        }
    }
    return out;
}

// The counters block of an image.
inline CounterValues counters_of(const StateImage& img) {
    CounterValues out{};
    const size_t first = img.bits.size() - kCounterCount;
    for (int k = 0; k < kCounterCount; ++k) {
        out[k] = static_cast<int32_t>(static_cast<uint32_t>(img.bits[first + k]));
    }
    return out;
}

}  // namespace zorvane::testing
