// A bit-exact image of DeviceState, to tell which stored values an operation
// changed (NaN compares equal to itself), and sentinel values that no
// decoder produces, to tell a field that was written from one that was not.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/device_state.h"

namespace zorvane::testing {

// Every float field of DeviceState that a reply can fill.
struct NamedField {
    const char* name;
    FloatField field;
};
inline constexpr NamedField kFloatFields[] = {
    {"out_voltage", &DeviceState::out_voltage},
    {"out_current", &DeviceState::out_current},
    {"out_power", &DeviceState::out_power},
    {"bat_voltage", &DeviceState::bat_voltage},
    {"case_temperature", &DeviceState::case_temperature},
    {"bat_temperature", &DeviceState::bat_temperature},
    {"set_uout_nom", &DeviceState::set_uout_nom},
    {"set_ubat_low", &DeviceState::set_ubat_low},
    {"set_ubat_min", &DeviceState::set_ubat_min},
    {"set_ubat_min_on", &DeviceState::set_ubat_min_on},
    {"set_pmax", &DeviceState::set_pmax},
    {"set_urms_low_l", &DeviceState::set_urms_low_l},
    {"set_urms_low_h", &DeviceState::set_urms_low_h},
    {"set_urms_high_h", &DeviceState::set_urms_high_h},
    {"set_urms_high_l", &DeviceState::set_urms_high_l},
    {"set_ichrg_nom", &DeviceState::set_ichrg_nom},
    {"set_abs_end_factor", &DeviceState::set_abs_end_factor},
    {"set_abs_time", &DeviceState::set_abs_time},
    {"set_float_time", &DeviceState::set_float_time},
    {"set_rfloat_time", &DeviceState::set_rfloat_time},
    {"set_rabs_time", &DeviceState::set_rabs_time},
    {"set_egen_type", &DeviceState::set_egen_type},
    {"set_egen_ubat", &DeviceState::set_egen_ubat},
    {"set_egen_on_time", &DeviceState::set_egen_on_time},
    {"set_egen_pmax", &DeviceState::set_egen_pmax},
    {"set_egen_sleep", &DeviceState::set_egen_sleep},
    {"set_egen_work", &DeviceState::set_egen_work},
};

// A value no decoder produces, so that a field still holding it was not
// written. Negative and fractional in a way no divisor gives.
inline constexpr float kSentinel = -4321.125f;
inline constexpr int32_t kSentinelCounter = -77;
inline constexpr int32_t kSentinelBit = 7;

inline void fill_sentinels(DeviceState& state) {
    for (const NamedField& f : kFloatFields) {
        (state.*f.field).store(kSentinel);
    }
    for (int i = 0; i < 8; ++i) {
        state.temp_raw[i].store(kSentinel);
        state.temperatures[i].store(kSentinel);
        state.kx_status1[i].store(kSentinelBit);
        state.kx_status2[i].store(kSentinelBit);
        state.qm_status1[i].store(kSentinelBit);
        state.qm_status2[i].store(kSentinelBit);
        state.qm_status3[i].store(kSentinelBit);
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

inline constexpr const char* kStatusNames[] = {"kx_status1", "kx_status2", "qm_status1",
                                               "qm_status2", "qm_status3"};

// Visits every stored value in a fixed order: the float fields, then per
// index the raw and converted temperatures and the five status arrays, then
// the counters.
template <typename Visit>
void visit_state(const DeviceState& s, Visit visit) {
    for (const NamedField& f : kFloatFields) {
        visit([&f] { return std::string(f.name); }, bits_of((s.*f.field).load()));
    }
    const StatusBits* status[] = {&s.kx_status1, &s.kx_status2, &s.qm_status1, &s.qm_status2,
                                  &s.qm_status3};
    for (int i = 0; i < 8; ++i) {
        const std::string index = "[" + std::to_string(i) + "]";
        visit([&index] { return "temp_raw" + index; }, bits_of(s.temp_raw[i].load()));
        visit([&index] { return "temperatures" + index; }, bits_of(s.temperatures[i].load()));
        for (int a = 0; a < 5; ++a) {
            visit([&index, a] { return kStatusNames[a] + index; },
                  static_cast<uint32_t>((*status[a])[i].load()));
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
