#include "device/device_state.h"

#include <thread>

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

void DeviceState::clear_device_values() {
    for (FloatField field : {&DeviceState::out_voltage,        &DeviceState::out_current,
                             &DeviceState::out_power,          &DeviceState::bat_voltage,
                             &DeviceState::case_temperature,   &DeviceState::bat_temperature,
                             &DeviceState::set_uout_nom,       &DeviceState::set_ubat_low,
                             &DeviceState::set_ubat_min,       &DeviceState::set_ubat_min_on,
                             &DeviceState::set_pmax,           &DeviceState::set_urms_low_l,
                             &DeviceState::set_urms_low_h,     &DeviceState::set_urms_high_h,
                             &DeviceState::set_urms_high_l,    &DeviceState::set_ichrg_nom,
                             &DeviceState::set_abs_end_factor, &DeviceState::set_abs_time,
                             &DeviceState::set_float_time,     &DeviceState::set_rfloat_time,
                             &DeviceState::set_rabs_time,      &DeviceState::set_egen_type,
                             &DeviceState::set_egen_ubat,      &DeviceState::set_egen_on_time,
                             &DeviceState::set_egen_pmax,      &DeviceState::set_egen_sleep,
                             &DeviceState::set_egen_work}) {
        (this->*field).store(0.0f);
    }
    zero_all(temp_raw);
    zero_all(temperatures);
    zero_all(kx_status1);
    zero_all(kx_status2);
    zero_all(qm_status1);
    zero_all(qm_status2);
    zero_all(qm_status3);
    lifetime_counters.publish(CounterValues{});
}

}  // namespace zorvane
