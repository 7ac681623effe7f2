// The lifetime counters as the technician sees them: one row per counter with
// its caption, the leader of full stops that runs towards the value column,
// and the text form of the value.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "device/device_state.h"

namespace zorvane {

enum class CounterForm {
    Number,    // "%d"
    Duration,  // seconds as days, hours, minutes and seconds
    Energy,    // volt-ampere hours
};

struct CounterDef {
    int index;            // element of lifetime_counters
    const char* caption;  // UTF-8, the device's own wording (typos included)
    int leader;           // full stops after the caption
    CounterForm form;
    bool space_before_leader = false;  // only row 3, after its "ВА"
};

// All 17 counters in index order; a KX device has only the first 16.
std::span<const CounterDef> counter_table();

// The text of the value column for counter `index` holding `value` (UTF-8).
// An index outside the table gives an empty text.
std::string format_counter(int index, int32_t value);

// The caption of counter `index` followed by its leader of full stops (UTF-8).
// An index outside the table gives an empty text.
std::string counter_caption_with_leader(int index);

}  // namespace zorvane
