#include "record/record_columns.h"

#include <chrono>
#include <cmath>
#include <tuple>

#include "state/variables.h"

namespace zorvane {

std::vector<RecordColumn> record_columns(int family) {
    const Family f = family_of_kind(family);
    std::vector<RecordColumn> columns;
    for (const Variable& v : variables()) {
        if (!has_family(v.families, f)) {
            continue;
        }
        if (v.is_array()) {
            const TemperatureArray array = v.array;
            for (size_t i = 0; i < std::tuple_size_v<std::array<std::atomic<double>, 8>>; ++i) {
                columns.push_back(
                    {std::string(v.name) + "_" + std::to_string(i),
                     [array, i](const DeviceState& s) { return (s.*array)[i].load(); }});
            }
            continue;
        }
        const FloatField field = v.field;
        columns.push_back(
            {v.name,
             [field](const DeviceState& s) { return static_cast<double>((s.*field).load()); },
             true});
    }
    for (const StatusBit& b : status_bits()) {
        if (b.family != f) {
            continue;
        }
        const StatusArray array = b.array;
        const int bit = b.bit;
        columns.push_back({b.name, [array, bit](const DeviceState& s) {
                               return static_cast<double>((s.*array)[bit].load());
                           }});
    }
    for (const CounterDef& c : counter_table()) {
        if (!has_family(c.families, f)) {
            continue;
        }
        // The counters are one block: each column reads its element of a
        // consistent copy.
        const int index = c.index;
        columns.push_back({c.name, [index](const DeviceState& s) {
                               return static_cast<double>(s.lifetime_counters.snapshot()[index]);
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
