// What a simulated device reads and is set to when it is switched on: values
// a technician would expect from a healthy unit on the bench.
#pragma once

#include <cstdint>
#include <span>

namespace zorvane::sim {

// One raw wire value of a read command, for the 24 V and the 48 V models.
struct DefaultValue {
    uint8_t code;
    int index;  // word of the reply (0x41 has four)
    uint16_t volts24;
    uint16_t volts48;
};

std::span<const DefaultValue> default_values();

// The eight thermistors of 0x46, in degrees Celsius.
std::span<const double> default_thermistor_celsius();

// The raw 0x46 reading that the tool turns into `celsius` (to a count).
uint16_t thermistor_raw(double celsius);
// The raw 0x47 reading of the case sensor for `celsius`.
uint16_t case_sensor_raw(double celsius);

}  // namespace zorvane::sim
