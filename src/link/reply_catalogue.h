// The catalogue of read commands whose replies are decoded by the general
// acceptance rule: one row per command, with its reply length and the
// registry rows its payload fills. Both follow from the registry (state/
// variables.h, which shows the reply layouts): a one-byte value gives a
// 4-byte reply, n words a reply of 3 + 2n bytes.
//
// Status (0x4A) and counters (0x53) have rules of their own (frame.h).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "state/device_state.h"
#include "state/variables.h"

namespace zorvane {

struct ReplyEntry {
    uint8_t code;
    int length;                              // reply length L
    std::vector<const Variable*> variables;  // what the payload fills, in registry order
};

// Stores an accepted reply of `entry` into the state: each value converted
// as its registry row says.
void decode_reply(const ReplyEntry& entry, const uint8_t* reply, DeviceState& state);

// Every read command of the general rule (0x40 … 0x77), in the order the
// registry first names each.
std::span<const ReplyEntry> reply_catalogue();
// The row of `code`, or null when the code has no row.
const ReplyEntry* find_reply(uint8_t code);

}  // namespace zorvane
