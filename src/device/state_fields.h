// The device values of DeviceState by name: one table that the JSON of a
// pass and the recording columns both walk, so a value has one name
// everywhere.
#pragma once

#include <array>
#include <atomic>
#include <span>

#include "device/device_state.h"

namespace zorvane {

using DoubleArray = std::array<std::atomic<double>, 8> DeviceState::*;
using BitsField = StatusBits DeviceState::*;

struct NamedFloat {
    const char* name;
    FloatField field;
};
struct NamedDoubleArray {
    const char* name;
    DoubleArray field;
};
struct NamedBits {
    const char* name;
    BitsField field;
};

// In the order of the state record.
std::span<const NamedFloat> state_float_fields();
std::span<const NamedDoubleArray> state_double_arrays();
std::span<const NamedBits> state_status_bytes();
inline constexpr const char* kLifetimeCountersName = "lifetime_counters";

}  // namespace zorvane
