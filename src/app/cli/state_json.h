// DeviceState as one JSON object: every device value under its own field
// name, arrays as arrays, status bits as 0/1, NaN as null.
#pragma once

#include <string>

#include "state/device_state.h"

namespace zorvane::cli {

std::string device_state_json(const DeviceState& state);

}  // namespace zorvane::cli
