#include "sim/device_defaults.h"

#include <array>
#include <cmath>

#include "device/temperature.h"

namespace zorvane::sim {

namespace {

// Raw wire values: tenths of a volt or ampere where the tool divides by 10,
// hundredths for the output current, minutes for RFloatTime.
constexpr std::array kDefaults = {
    DefaultValue{0x41, 0, 2300, 2300},    // output 230.0 V
    DefaultValue{0x41, 1, 435, 435},      // 4.35 A
    DefaultValue{0x41, 2, 1000, 1000},    // 1000 VA
    DefaultValue{0x41, 3, 264, 528},      // battery 26.4 / 52.8 V
    DefaultValue{0x40, 0, 240, 480},      // UbatMinOn
    DefaultValue{0x4C, 0, 2300, 2300},    // UoutNom
    DefaultValue{0x4E, 0, 220, 440},      // UbatLow
    DefaultValue{0x50, 0, 210, 420},      // UbatMin
    DefaultValue{0x52, 0, 3000, 5000},    // Pmax, VA
    DefaultValue{0x58, 0, 1700, 1700},    // UrmslowL
    DefaultValue{0x5A, 0, 1800, 1800},    // UrmslowH
    DefaultValue{0x5C, 0, 2500, 2500},    // UrmshighH
    DefaultValue{0x5E, 0, 2450, 2450},    // UrmshighL
    DefaultValue{0x60, 0, 200, 100},      // IchrgNom 20.0 / 10.0 A
    DefaultValue{0x62, 0, 10, 10},        // AbsEndFactor
    DefaultValue{0x64, 0, 120, 120},      // AbsTime, minutes
    DefaultValue{0x66, 0, 480, 480},      // FloatTime, minutes
    DefaultValue{0x68, 0, 10080, 10080},  // RFloatTime, 7 days in minutes
    DefaultValue{0x6A, 0, 30, 30},        // RAbsTime, minutes
    DefaultValue{0x6C, 0, 1, 1},          // EGenType
    DefaultValue{0x6E, 0, 0, 0},          // EGenUbat
    DefaultValue{0x70, 0, 60, 60},        // EGenOnTime, seconds
    DefaultValue{0x72, 0, 2000, 4000},    // EGenPmax, VA
    DefaultValue{0x74, 0, 7, 7},          // EGenSleep, days
    DefaultValue{0x76, 0, 20, 20},        // EGenWork, seconds
    DefaultValue{0x77, 0, 25, 25},        // battery temperature, degrees
};

constexpr std::array kThermistors = {31.0, 34.0, 38.0, 36.0, 27.0, 28.0, 33.0, 29.0};

}  // namespace

std::span<const DefaultValue> default_values() {
    return kDefaults;
}

std::span<const double> default_thermistor_celsius() {
    return kThermistors;
}

uint16_t thermistor_raw(double celsius) {
    // The conversion falls monotonically from +inf at 0 to -inf near 2048;
    // bisect for the count whose temperature is closest.
    int lo = 1;
    int hi = 2047;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        (ntc_temperature(mid) > celsius ? lo : hi) = mid;
    }
    const bool lo_closer =
        std::fabs(ntc_temperature(lo) - celsius) <= std::fabs(ntc_temperature(hi) - celsius);
    return static_cast<uint16_t>(lo_closer ? lo : hi);
}

uint16_t case_sensor_raw(double celsius) {
    // Inverse of T = (v * 2.5 / 1024 - 0.75) * 100 + 25.
    const double v = ((celsius - 25.0) / 100.0 + 0.75) * 1024.0 / 2.5;
    return static_cast<uint16_t>(std::lround(std::fmax(v, 0.0)));
}

}  // namespace zorvane::sim
