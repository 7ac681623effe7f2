// What a recording holds of one pass: one column per value of the polled
// device's family, walked from the device registry under its registry name
// (an array element by element: `temperatures_0` …; status bits and lifetime
// counters under their own names), and a sample of those columns taken when
// a pass completes.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "state/device_state.h"

namespace zorvane {

struct RecordColumn {
    std::string name;
    // The value as stored, in the units of the JSON of a pass; NaN when it
    // is unknown.
    std::function<double(const DeviceState&)> read;
    // Stored in single precision: written with the digits of a float, so
    // 230.1 stays 230.1.
    bool single = false;
};

// Every column of a family (the value of g_device_kind: 1 = KX, 2 = QM), in
// registry order: values, status bits, counters.
std::vector<RecordColumn> record_columns(int family);

// One completed pass, or the news that the device was not current when it
// ended.
struct Sample {
    int64_t time_ms = 0;  // wall clock, milliseconds since 1970-01-01 UTC
    int port = 0;         // COMn of the device
    int family = 0;
    bool current = false;        // false: no values (link lost, device silent)
    std::vector<double> values;  // one per column when current
};

Sample take_sample(std::span<const RecordColumn> columns, const DeviceState& state, int64_t time_ms,
                   bool current);

// The wall clock in milliseconds since 1970-01-01 UTC.
int64_t wall_clock_ms();

}  // namespace zorvane
