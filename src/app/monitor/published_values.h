// What the monitor needs to know of each device value: its name
// (the key in the state JSON and the last part of its topics), where it sits
// in that JSON, its unit and what it measures, and for a setting its range.
// The rows come from the device's own tables; nothing here names a value.
#pragma once

#include <string>
#include <vector>

#include "pages/setting_write.h"

namespace zorvane::monitor {

enum class Quantity { None, Voltage, Current, ApparentPower, Temperature, Duration, Count };

enum class ValueKind { Reading, Setting, Counter, StatusBit };

struct PublishedValue {
    std::string name;  // "UbatLow", "out_voltage", …
    ValueKind kind = ValueKind::Reading;
    std::string json_path;  // "set_ubat_low", "qm_status1[2]": a Jinja path into the state
    std::string unit;       // as Home Assistant expects it: "V", "A", "VA", "°C", "min", "d"
    Quantity quantity = Quantity::None;
    // Settings only: the routine that writes it, and the range it accepts in
    // the published unit.
    const SettingParam* setting = nullptr;
    double min = 0;
    double max = 0;
    double step = 1;
};

// Every value a device of the family (1 = KX, 2 = QM) reports, in the order
// of its state.
std::vector<PublishedValue> published_values(int family);

// Path of the output-generation bit in the state JSON.
std::string generation_path(int family);

// The value named `name` of the family, or null.
const PublishedValue* find_published(const std::vector<PublishedValue>& values,
                                     const std::string& name);

}  // namespace zorvane::monitor
