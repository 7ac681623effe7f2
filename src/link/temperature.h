// Conversions of the device's raw temperature readings.
#pragma once

#include <cstdint>

namespace zorvane {

// Thermistor reading of the 0x46 reply to degrees Celsius. No range check:
// 0 and every x from 2048 upward give NaN (floating-point exceptions masked).
double ntc_temperature(double x);

// Linear case sensor of the 0x47 reply to degrees Celsius.
float case_sensor_temperature(uint16_t v);

}  // namespace zorvane
