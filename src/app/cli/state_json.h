// DeviceState as one JSON object: whether the values are current and the
// time of the last accepted reply (ISO 8601, UTC), then every device value
// under its own field name, arrays as arrays, status bits as 0/1, NaN as
// null; every value is null while the values are not current. `rounded`
// gives each value the decimals it is shown with (finer where the device
// keeps it finer), not the conversion's fifteen.
#pragma once

#include <string>

#include "state/device_state.h"

namespace zorvane::cli {

std::string device_state_json(const DeviceState& state, bool rounded = false);

}  // namespace zorvane::cli
