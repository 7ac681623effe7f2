// The one process-wide record shared by the polling worker and the window.
//
// Every field has one writing thread and is read and written whole: each is a
// lock-free atomic, so no reader ever sees a torn value. The lifetime counters
// are the one block that a reader needs as a consistent whole; they are
// published through a sequence counter (see LifetimeCounters).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace zorvane {

inline constexpr int kCounterCount = 17;
// g_battery_class when the battery readings of the search did not agree.
inline constexpr int32_t kClassReadingsDisagree = -1;
using CounterValues = std::array<int32_t, kCounterCount>;

// Single writer (the poll cycle), any number of readers. A reader retries while
// the writer is half-way through, so it never sees the block zeroed or mixed
// from two replies.
class LifetimeCounters {
  public:
    void publish(const CounterValues& values);
    CounterValues snapshot() const;

  private:
    std::atomic<uint32_t> m_sequence{0};
    std::array<std::atomic<int32_t>, kCounterCount> m_values{};
};

using StatusBits = std::array<std::atomic<int32_t>, 8>;

struct DeviceState {
    // Connection and threads.
    std::atomic<int32_t> g_com_port{0};
    std::atomic<int32_t> g_device_kind{0};  // 1 = KX, 2 = QM, 0 = none
    // How surely the polled device was identified, stored with g_device_kind.
    // A device whose status reply never passed its checks is polled as the
    // model the search fell back to, but nothing is written to it.
    std::atomic<uint8_t> g_model_unsure{0};
    // The voltage class its battery readings at the search gave: 24 or 48;
    // kClassReadingsDisagree when they did not agree; 0 when no search told.
    // The two readings themselves, in volts, for the messages that name them.
    std::atomic<int32_t> g_battery_class{0};
    std::array<std::atomic<float>, 2> g_battery_readings{};
    std::atomic<uint32_t> g_main_thread_id{0};
    std::atomic<uint8_t> g_worker_idle{0};
    std::atomic<uint8_t> g_poll_pause{0};
    std::atomic<int32_t> g_settings_shown{0};

    // Whether what is stored below belongs to the polled device: set by the
    // worker at the end of a complete pass, cleared whenever the polled
    // device changes. Until it is set nothing is shown and no setting can be
    // written, since a zero here is no reading.
    std::atomic<uint8_t> g_values_read{0};
    // Whether the device answers: cleared when it stops answering (a whole
    // pass, or two seconds of transactions, without an accepted reply), set
    // again by the next accepted reply.
    std::atomic<uint8_t> g_device_answering{1};
    // Wall-clock time of the last accepted reply, in milliseconds since
    // 1970-01-01 UTC; 0 while none has been accepted.
    std::atomic<int64_t> g_last_answer_ms{0};
    // Wall-clock time at which the port of the polled device failed (an
    // unplugged adapter, a cable pulled), in milliseconds since 1970-01-01
    // UTC; 0 while the link is up. Set, nothing is written to the port.
    std::atomic<int64_t> g_link_lost_ms{0};

    // The stored values may be shown, compared and reported as live.
    bool values_current() const {
        return g_values_read.load() != 0 && g_device_answering.load() != 0;
    }

    // Live readings.
    std::atomic<float> out_voltage{0};
    std::atomic<float> out_current{0};
    std::atomic<float> out_power{0};
    std::atomic<float> bat_voltage{0};
    std::atomic<float> case_temperature{0};
    std::atomic<float> bat_temperature{0};
    std::array<std::atomic<double>, 8> temp_raw{};
    std::array<std::atomic<double>, 8> temperatures{};

    // Settings common to both families.
    std::atomic<float> set_uout_nom{0};
    std::atomic<float> set_ubat_low{0};
    std::atomic<float> set_ubat_min{0};
    std::atomic<float> set_ubat_min_on{0};
    std::atomic<float> set_pmax{0};

    // Settings of the QM family.
    std::atomic<float> set_urms_low_l{0};
    std::atomic<float> set_urms_low_h{0};
    std::atomic<float> set_urms_high_h{0};
    std::atomic<float> set_urms_high_l{0};
    std::atomic<float> set_ichrg_nom{0};
    std::atomic<float> set_abs_end_factor{0};
    std::atomic<float> set_abs_time{0};
    std::atomic<float> set_float_time{0};
    std::atomic<float> set_rfloat_time{0};
    std::atomic<float> set_rabs_time{0};
    std::atomic<float> set_egen_type{0};
    std::atomic<float> set_egen_ubat{0};
    std::atomic<float> set_egen_on_time{0};
    std::atomic<float> set_egen_pmax{0};
    std::atomic<float> set_egen_sleep{0};
    std::atomic<float> set_egen_work{0};

    // Status bits: element i is bit i of one status byte.
    StatusBits kx_status1{};
    StatusBits kx_status2{};
    StatusBits qm_status1{};
    StatusBits qm_status2{};
    StatusBits qm_status3{};

    LifetimeCounters lifetime_counters;

    // Sets every device value (readings, settings, temperatures, status bits,
    // counters) back to zero; the connection fields and flags are left alone.
    // Used when the polled device changes, so that nothing of the previous
    // device is shown or compared.
    void clear_device_values();
};

static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<double>::is_always_lock_free);
static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(std::atomic<int64_t>::is_always_lock_free);
static_assert(std::atomic<uint8_t>::is_always_lock_free);

// How surely the search identified a device, as it stores it in
// g_model_unsure, g_battery_class and g_battery_readings.
struct Identification {
    bool model_established = true;  // its status reply passed
    int32_t battery_class = 0;      // 24, 48, kClassReadingsDisagree; 0: not told
    std::array<float, 2> battery_readings{};
};
// Stored with g_com_port and g_device_kind whenever the polled device changes.
void store_identification(DeviceState& state, const Identification& identification);

// The process-wide instance.
extern DeviceState device_state;

// Pointer-to-member handles, so that tables (reply catalogue, settings) can
// name the field they fill or compare against.
using FloatField = std::atomic<float> DeviceState::*;

}  // namespace zorvane
