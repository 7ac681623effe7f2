// The catalogue of read commands whose replies are decoded by the general
// acceptance rule: one row per command, with its reply length, its decoder
// and the DeviceState field it fills.
//
//   one-word reply  > BE 4E AA        < BE CE 01 09 AA        (265 -> 26.5 V)
//                                       0  1  2  3  4
//   one-byte reply  > BE 62 AA        < BE E2 07 AA           (7)
//                                       0  1  2  3
//   readings 0x41   < BE C1 w0 w0 w1 w1 w2 w2 w3 w3 AA
//                     0  1  2  3  4  5  6  7  8  9  10
//   temperatures 0x46 < BE C6 w0 .. w7 AA  (19 bytes)
//
// Status (0x4A) and counters (0x53) have rules of their own (frame.h).
#pragma once

#include <cstdint>
#include <span>

#include "device/device_state.h"

namespace zorvane {

struct ReplyEntry;
using ReplyDecoder = void (*)(const ReplyEntry& entry, const uint8_t* reply, DeviceState& state);

struct ReplyEntry {
    uint8_t code;
    int length;           // reply length L
    ReplyDecoder decode;  // stores the accepted reply into the state
    FloatField field;     // target of one-word and one-byte replies; null otherwise
    float divisor;        // one-word replies: stored value = word / divisor
};

// Decoders, one per reply kind.
void decode_word(const ReplyEntry& entry, const uint8_t* reply, DeviceState& state);
void decode_byte(const ReplyEntry& entry, const uint8_t* reply, DeviceState& state);
void decode_readings(const ReplyEntry& entry, const uint8_t* reply, DeviceState& state);
void decode_temperatures(const ReplyEntry& entry, const uint8_t* reply, DeviceState& state);
void decode_case_temperature(const ReplyEntry& entry, const uint8_t* reply, DeviceState& state);

// Every read command of the general rule (0x41 … 0x77).
std::span<const ReplyEntry> reply_catalogue();
// The row of `code`, or null when the code has no row.
const ReplyEntry* find_reply(uint8_t code);

}  // namespace zorvane
