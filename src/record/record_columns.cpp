#include "record/record_columns.h"

#include <chrono>
#include <cmath>

#include "device/state_fields.h"

namespace zorvane {

std::vector<RecordColumn> record_columns(int family) {
    (void)family;  // every value of the state record is kept for both families
    std::vector<RecordColumn> columns;
    for (const NamedFloat& f : state_float_fields()) {
        const FloatField field = f.field;
        columns.push_back(
            {f.name,
             [field](const DeviceState& s) { return static_cast<double>((s.*field).load()); },
             true});
    }
    for (const NamedDoubleArray& a : state_double_arrays()) {
        for (size_t i = 0; i < 8; ++i) {
            const DoubleArray field = a.field;
            columns.push_back({std::string(a.name) + "_" + std::to_string(i),
                               [field, i](const DeviceState& s) { return (s.*field)[i].load(); }});
        }
    }
    for (const NamedBits& b : state_status_bytes()) {
        for (size_t i = 0; i < 8; ++i) {
            const BitsField field = b.field;
            columns.push_back(
                {std::string(b.name) + "_" + std::to_string(i), [field, i](const DeviceState& s) {
                     return static_cast<double>((s.*field)[i].load());
                 }});
        }
    }
    for (int i = 0; i < kCounterCount; ++i) {
        // The counters are one block: each column reads its element of a
        // consistent copy.
        columns.push_back({std::string(kLifetimeCountersName) + "_" + std::to_string(i),
                           [i](const DeviceState& s) {
                               return static_cast<double>(s.lifetime_counters.snapshot()[i]);
                           }});
    }
    return columns;
}

Sample take_sample(std::span<const RecordColumn> columns, const DeviceState& state, int64_t time_ms,
                   bool current) {
    Sample sample;
    sample.time_ms = time_ms;
    sample.port = state.g_com_port.load();
    sample.family = state.g_device_kind.load();
    sample.current = current;
    if (current) {
        sample.values.reserve(columns.size());
        for (const RecordColumn& column : columns) {
            sample.values.push_back(column.read(state));
        }
    }
    return sample;
}

int64_t wall_clock_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace zorvane
