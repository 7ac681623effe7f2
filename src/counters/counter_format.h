// The lifetime counters as the technician sees them: each counter's caption
// with the leader of full stops that runs towards the value column, and the
// text form of its value (the rows are in the registry's counter table).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "state/variables.h"

namespace zorvane {

// The text of the value column for counter `index` holding `value` (UTF-8).
// An index outside the table gives an empty text.
std::string format_counter(int index, int32_t value);

// The caption of counter `index` followed by its leader of full stops (UTF-8).
// An index outside the table gives an empty text.
std::string counter_caption_with_leader(int index);

}  // namespace zorvane
