#include "link/frame.h"

#include "state/variables.h"

namespace zorvane {

int build_request(std::span<uint8_t> out, uint8_t code) {
    out[0] = kFrameStart;
    out[1] = code;
    out[2] = kFrameEnd;
    return 3;
}

int build_request_u8(std::span<uint8_t> out, uint8_t code, uint8_t value) {
    out[0] = kFrameStart;
    out[1] = code;
    out[2] = value;
    out[3] = kFrameEnd;
    return 4;
}

int build_request_u16(std::span<uint8_t> out, uint8_t code, uint16_t value) {
    out[0] = kFrameStart;
    out[1] = code;
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value & 0xFF);
    out[4] = kFrameEnd;
    return 5;
}

bool reply_valid(const uint8_t* reply, int count, uint8_t code, int length) {
    return length >= 3 && count >= length && reply[0] == kFrameStart &&
           reply[1] == (code | kReplyBit) && reply[length - 1] == kFrameEnd;
}

bool status_reply_valid(const uint8_t* reply, int count) {
    if (count != kStatusShortLength && count != kStatusLongLength) {
        return false;
    }
    return reply[0] == kFrameStart && reply[1] == (cmd::kStatus | kReplyBit) &&
           reply[count - 1] == kFrameEnd;
}

namespace {
void store_bits(StatusBits& bits, uint8_t byte) {
    for (int i = 0; i < 8; ++i) {
        bits[i].store((byte >> i) & 1);
    }
}
}  // namespace

void store_status(DeviceState& state, const uint8_t* reply, int count) {
    const Family form = count == kStatusShortLength ? Family::Kx : Family::Qm;
    for (const StatusArrayRow& row : status_arrays()) {
        if (row.family == form) {
            store_bits(state.*row.array, reply[2 + row.byte]);
        }
    }
}

bool counters_reply_valid(int count, int expected_length) {
    return count == expected_length;
}

// Counters reply, 45 bytes (KX) or 47 (QM):
//   0 BE | 1 D3 | 2-3 c0 | 4-7 c1 | 8-11 c2 | 12-15 c3 | 16-19 c4 | 20-23 c5
//   24-25 c6 | 26-27 c7 | 28-29 c8 | 30-31 c9 | 32-33 c10 … 42-43 c15
//   [44-45 c16] | AA
// c0, c6..c9: 16-bit words; c1..c5: 32-bit words; c10..c16: the two bytes of
// the slot added together (the device sends them that way).
CounterValues decode_counters(const uint8_t* r, int length) {
    CounterValues c{};
    for (const CounterDef& counter : counter_table()) {
        const int i = counter_offset(counter.index);
        if (i + 2 > length - 1) {
            break;  // the short form ends before the last counter
        }
        int32_t value = 0;
        switch (counter.wire) {
            case CounterWire::Word16:
                value = word_at(r, i);
                break;
            case CounterWire::Word32:
                value = static_cast<int32_t>(static_cast<uint32_t>(r[i]) << 24 |
                                             static_cast<uint32_t>(r[i + 1]) << 16 |
                                             static_cast<uint32_t>(r[i + 2]) << 8 | r[i + 3]);
                break;
            case CounterWire::BytePair:
                value = r[i] + r[i + 1];
                break;
        }
        c[static_cast<size_t>(counter.index)] = value;
    }
    return c;
}

bool battery_reply_valid(const uint8_t* reply, int count) {
    return reply_valid(reply, count, cmd::kBatteryProbe, kBatteryProbeLength);
}

float decode_battery_voltage(const uint8_t* reply) {
    return static_cast<float>(static_cast<double>(word_at(reply, 2)) / 10.0);
}

bool serial_reply_valid(const uint8_t* reply, int count) {
    return count == kSerialNumberLength &&
           reply_valid(reply, count, cmd::kSerialNumber, kSerialNumberLength);
}

namespace {
// Windows-1251, the ANSI code page of the devices' home market, 0x80..0xFF.
constexpr char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F};

void append_utf8(std::string& out, char16_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}
}  // namespace

std::string decode_serial_number(const uint8_t* reply) {
    if (reply[2] == 0xFF) {
        return kSerialNotAssigned;
    }
    std::string text;
    for (int i = 2; i < 12 && reply[i] != 0; ++i) {
        const uint8_t b = reply[i];
        append_utf8(text, b < 0x80 ? static_cast<char16_t>(b) : kCp1251High[b - 0x80]);
    }
    return text;
}

}  // namespace zorvane
