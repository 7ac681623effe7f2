// What the monitor publishes of each device value: its name (the last part of
// its topics and Home Assistant ids), a label, where it sits in the state
// JSON, its unit and what it measures, and for a setting its range and the
// routine that writes it. Everything comes from the device registry.
#pragma once

#include <string>
#include <vector>

#include "device/setting_write.h"
#include "state/device_state.h"
#include "state/variables.h"

namespace zorvane::monitor {

enum class ValueKind { Reading, Setting, Counter, StatusBit };

struct PublishedValue {
    std::string name;   // "UbatLow", "out_voltage", "generation", "temperatures_3"
    std::string label;  // what a dashboard shows ("Battery low voltage")
    ValueKind kind = ValueKind::Reading;
    std::string json_path;  // "set_ubat_low", "qm_status1[2]": a path into the state JSON
    std::string unit;       // "V", "A", "VA", "°C", "s", "min", "d", "VAh" or ""
    bool has_measure = false;
    Measure measure = Measure::Count;
    int decimals = 0;  // what the value is worth; the state is rounded to it
    bool raw = false;  // converter counts, of use to a technician only
    StatusBit::Meaning meaning = StatusBit::Meaning::State;  // status bits only
    // Settings only: a choice's entries by wire value (empty: typed in).
    std::vector<std::string> options;
    // Settings only: the routine's row (null when the setting cannot be
    // typed in, as a list choice), and its range in the published unit.
    const SettingParam* setting = nullptr;
    double min = 0;
    double max = 0;
    double step = 1;
};

// The range a setting takes in Home Assistant, in the published unit.
struct NumberRange {
    double min = 0;
    double max = 0;
    double step = 1;
};
// What a setting may be set to from a remote path: the span of the unit's
// voltage class (`volts`, 24 or 48) where the row has one, else the payload's
// range; the step is what the device keeps.
NumberRange number_range(const Variable& v, int volts = 0);

// Every value a device of the family reports, in the order of its state.
std::vector<PublishedValue> published_values(Family family);

// The value named `name`, or null.
const PublishedValue* find_published(const std::vector<PublishedValue>& values,
                                     const std::string& name);

// The output-generation bit of the family: its path in the state JSON, and
// its value in a state.
std::string generation_path(Family family);
bool generation_on(const DeviceState& state, Family family);

}  // namespace zorvane::monitor
