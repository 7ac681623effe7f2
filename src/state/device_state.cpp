#include "state/device_state.h"

#include <thread>

#include "state/variables.h"

namespace zorvane {

DeviceState device_state;

void LifetimeCounters::publish(const CounterValues& values) {
    // An odd sequence marks a write in progress. Every access is sequentially
    // consistent, so a reader that sees the same even sequence before and
    // after its loads cannot have seen any store of a write in progress.
    const uint32_t seq = m_sequence.load();
    m_sequence.store(seq + 1);
    for (int i = 0; i < kCounterCount; ++i) {
        m_values[i].store(values[i]);
    }
    m_sequence.store(seq + 2);
}

CounterValues LifetimeCounters::snapshot() const {
    CounterValues out{};
    for (;;) {
        const uint32_t before = m_sequence.load();
        if (before & 1u) {
            std::this_thread::yield();
            continue;
        }
        for (int i = 0; i < kCounterCount; ++i) {
            out[i] = m_values[i].load();
        }
        if (m_sequence.load() == before) {
            return out;
        }
    }
}

namespace {
template <typename Array>
void zero_all(Array& array) {
    for (auto& element : array) {
        element.store(0);
    }
}
}  // namespace

void store_identification(DeviceState& state, const Identification& identification) {
    state.g_model_unsure.store(identification.model_established ? 0 : 1);
    state.g_battery_class.store(identification.battery_class);
    for (size_t i = 0; i < identification.battery_readings.size(); ++i) {
        state.g_battery_readings[i].store(identification.battery_readings[i]);
    }
}

void DeviceState::clear_device_values() {
    for (const Variable& v : variables()) {
        if (v.is_array()) {
            zero_all(this->*v.array);
        } else {
            (this->*v.field).store(0.0f);
        }
    }
    for (const StatusArrayRow& row : status_arrays()) {
        zero_all(this->*row.array);
    }
    lifetime_counters.publish(CounterValues{});
}

}  // namespace zorvane
