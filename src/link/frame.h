// Wire frames of the KX/QM protocol: building requests, accepting replies and
// decoding them into DeviceState. Pure byte handling: no port, no thread.
//
// Request:  BE <code> [payload] AA
// Reply:    BE <code|80> <payload> AA     no length field, no checksum;
//           numbers unsigned, big-endian; reply length fixed per command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "state/device_state.h"
#include "state/models.h"

namespace zorvane {

inline constexpr uint8_t kFrameStart = 0xBE;
inline constexpr uint8_t kFrameEnd = 0xAA;
inline constexpr uint8_t kReplyBit = 0x80;

// Room of every frame buffer: one read brings at most this many bytes.
inline constexpr size_t kFrameBufferSize = 100;

// Commands that are not rows of the reply catalogue.
namespace cmd {
inline constexpr uint8_t kStatus = 0x4A;
inline constexpr uint8_t kCounters = 0x53;
inline constexpr uint8_t kBatteryProbe = 0x45;
inline constexpr uint8_t kSerialNumber = 0x56;
inline constexpr uint8_t kGenerationOn = 0x48;
inline constexpr uint8_t kGenerationOff = 0x49;
}  // namespace cmd

inline constexpr int kBatteryProbeLength = 5;
inline constexpr int kSerialNumberLength = 13;

// Request builders. Each writes the frame at the start of `out` (which must
// hold at least 5 bytes) and returns its length.
int build_request(std::span<uint8_t> out, uint8_t code);                      // 3 bytes
int build_request_u8(std::span<uint8_t> out, uint8_t code, uint8_t value);    // 4 bytes
int build_request_u16(std::span<uint8_t> out, uint8_t code, uint16_t value);  // 5 bytes

// General acceptance rule: at least `length` bytes, BE, code|80, AA at length-1.
bool reply_valid(const uint8_t* reply, int count, uint8_t code, int length);

// Status (0x4A): exactly 5 or exactly 6 bytes, BE CA at 0/1, AA at the end.
bool status_reply_valid(const uint8_t* reply, int count);
// Stores an accepted status reply: the 5-byte form into kx_status1/2, the
// 6-byte form into qm_status1/2/3; the other form's arrays are untouched.
void store_status(DeviceState& state, const uint8_t* reply, int count);

// Counters (0x53): accepted only when `count` is exactly `expected_length`
// (45 or 47); no byte is checked. Returns the 17 values, the ones the form
// does not carry left at 0.
bool counters_reply_valid(int count, int expected_length);
CounterValues decode_counters(const uint8_t* reply, int length);

// Discovery replies.
bool battery_reply_valid(const uint8_t* reply, int count);  // >= 5 bytes, BE C5 .. AA@4
float decode_battery_voltage(const uint8_t* reply);         // word / 10, volts
bool serial_reply_valid(const uint8_t* reply, int count);   // exactly 13, BE D6 .. AA@12
// "не назначен" when byte 2 is FF, otherwise the bytes from offset 2 up to the
// first zero (at most ten), as text (UTF-8).
std::string decode_serial_number(const uint8_t* reply);
inline constexpr const char* kSerialNotAssigned = "не назначен";

// 16-bit big-endian word at offset i.
inline uint16_t word_at(const uint8_t* bytes, int i) {
    return static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]);
}

}  // namespace zorvane
