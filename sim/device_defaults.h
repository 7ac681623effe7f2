// What a simulated device reads and is set to when it is switched on: the
// registry's values of a healthy unit on the bench, as the device sends them.
#pragma once

#include <cstdint>

#include "state/models.h"
#include "state/variables.h"

namespace zorvane::sim {

// The wire value of element `index` of `v` at switch-on for a unit of the
// given battery voltage class (24 or 48).
uint16_t default_raw(const Variable& v, int battery_volts, int index = 0);

// The raw 0x46 reading that the tool turns into `celsius` (to a count).
uint16_t thermistor_raw(double celsius);
// The raw 0x47 reading of the case sensor for `celsius`.
uint16_t case_sensor_raw(double celsius);

}  // namespace zorvane::sim
