#include "sim/device_defaults.h"

#include <cmath>

#include "link/temperature.h"

namespace zorvane::sim {

uint16_t default_raw(const Variable& v, int battery_volts, int index) {
    const double display = v.sim_each != nullptr ? v.sim_each[index]
                           : battery_volts == 48 ? v.sim48
                                                 : v.sim24;
    switch (v.conversion) {
        case Conversion::Thermistor:
            return thermistor_raw(display);
        case Conversion::CaseSensor:
            return case_sensor_raw(display);
        case Conversion::Scaled:
            break;
    }
    return wire_value(v, display);
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
