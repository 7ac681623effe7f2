#include "link/temperature.h"

#include <cmath>

namespace zorvane {

double ntc_temperature(double x) {
    // Out-of-range readings (0, >= 2048) have no temperature: the formula
    // would take the logarithm of zero or of a negative number, or divide by
    // zero. They are answered with NaN before any of that is computed, so no
    // floating-point exception is raised at all and nothing can trap, whatever
    // a library does to the floating-point environment. The formula is kept
    // in the device maker's order of operations so results match to the bit.
    if (!(x > 0.0 && x < 2048.0)) {
        return std::nan("");
    }
    const double r = -(x * 20000.0 * 2.5) / (2.5 * x - 5120.0) / 10000.0;
    const double l = std::log(r);
    const double l2 = l * l;
    const double l3 = l * l2;
    const double t =
        1.0 / (l * 0.000256985 + 0.003354016 + l2 * 2.620131e-6 + l3 * 6.383091e-8) - 273.2;
    return std::isfinite(t) ? t : std::nan("");
}

float case_sensor_temperature(uint16_t v) {
    return static_cast<float>(((v * 2.5) * 0.0009765625 - 0.75) * 100.0 + 25.0);
}

}  // namespace zorvane
