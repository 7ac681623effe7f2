// What the fuzz targets share: a check that aborts with a message (so that
// libFuzzer records the input), and a bit-exact image of DeviceState to tell
// which fields an operation changed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/device_state.h"

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace zorvane::fuzz {

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
struct StateImage {
    std::vector<std::string> names;
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

inline StateImage capture(const DeviceState& s) {
    StateImage img;
    auto add = [&img](std::string name, uint64_t bits) {
        img.names.push_back(std::move(name));
        img.bits.push_back(bits);
    };
    for (const NamedField& f : kFloatFields) {
        add(f.name, bits_of((s.*f.field).load()));
    }
    const StatusBits* status[] = {&s.kx_status1, &s.kx_status2, &s.qm_status1, &s.qm_status2,
                                  &s.qm_status3};
    const char* status_names[] = {"kx_status1", "kx_status2", "qm_status1", "qm_status2",
                                  "qm_status3"};
    for (int i = 0; i < 8; ++i) {
        add("temp_raw[" + std::to_string(i) + "]", bits_of(s.temp_raw[i].load()));
        add("temperatures[" + std::to_string(i) + "]", bits_of(s.temperatures[i].load()));
        for (int a = 0; a < 5; ++a) {
            add(std::string(status_names[a]) + "[" + std::to_string(i) + "]",
                static_cast<uint32_t>((*status[a])[i].load()));
        }
    }
    const CounterValues counters = s.lifetime_counters.snapshot();
    for (int k = 0; k < kCounterCount; ++k) {
        add("counter " + std::to_string(k), static_cast<uint32_t>(counters[k]));
    }
    return img;
}

// Names of the values that differ between two images.
inline std::vector<std::string> changed(const StateImage& a, const StateImage& b) {
    std::vector<std::string> out;
    for (size_t i = 0; i < a.bits.size(); ++i) {
        if (a.bits[i] != b.bits[i]) {
            out.push_back(a.names[i]);
        }
    }
    return out;
}

}  // namespace zorvane::fuzz
