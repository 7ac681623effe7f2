#include "link/reply_catalogue.h"

#include <array>

#include "device/temperature.h"
#include "link/frame.h"

namespace zorvane {

void decode_word(const ReplyEntry& entry, const uint8_t* reply, DeviceState& state) {
    // Divide in double and store the quotient: 125 / 10 is 12.5 exactly as
    // the device meant it, not 125 * 0.1.
    const double value = static_cast<double>(word_at(reply, 2)) / entry.divisor;
    (state.*entry.field).store(static_cast<float>(value));
}

void decode_byte(const ReplyEntry& entry, const uint8_t* reply, DeviceState& state) {
    (state.*entry.field).store(static_cast<float>(reply[2]));
}

void decode_readings(const ReplyEntry&, const uint8_t* reply, DeviceState& state) {
    state.out_voltage.store(static_cast<float>(word_at(reply, 2) / 10.0));
    state.out_current.store(static_cast<float>(word_at(reply, 4) / 100.0));
    state.out_power.store(static_cast<float>(word_at(reply, 6)));
    state.bat_voltage.store(static_cast<float>(word_at(reply, 8) / 10.0));
}

void decode_temperatures(const ReplyEntry&, const uint8_t* reply, DeviceState& state) {
    for (int i = 0; i < 8; ++i) {
        state.temp_raw[i].store(static_cast<double>(word_at(reply, 2 + 2 * i)));
    }
    for (int i = 0; i < 8; ++i) {
        state.temperatures[i].store(ntc_temperature(state.temp_raw[i].load()));
    }
}

void decode_case_temperature(const ReplyEntry&, const uint8_t* reply, DeviceState& state) {
    state.case_temperature.store(case_sensor_temperature(word_at(reply, 2)));
}

namespace {
using S = DeviceState;
constexpr std::array kCatalogue = {
    ReplyEntry{0x41, 11, decode_readings, nullptr, 1},
    ReplyEntry{0x40, 5, decode_word, &S::set_ubat_min_on, 10},
    ReplyEntry{0x46, 19, decode_temperatures, nullptr, 1},
    ReplyEntry{0x47, 5, decode_case_temperature, nullptr, 1},
    ReplyEntry{0x4C, 5, decode_word, &S::set_uout_nom, 10},
    ReplyEntry{0x4E, 5, decode_word, &S::set_ubat_low, 10},
    ReplyEntry{0x50, 5, decode_word, &S::set_ubat_min, 10},
    ReplyEntry{0x52, 5, decode_word, &S::set_pmax, 1},
    ReplyEntry{0x58, 5, decode_word, &S::set_urms_low_l, 10},
    ReplyEntry{0x5A, 5, decode_word, &S::set_urms_low_h, 10},
    ReplyEntry{0x5C, 5, decode_word, &S::set_urms_high_h, 10},
    ReplyEntry{0x5E, 5, decode_word, &S::set_urms_high_l, 10},
    ReplyEntry{0x60, 5, decode_word, &S::set_ichrg_nom, 10},
    ReplyEntry{0x62, 4, decode_byte, &S::set_abs_end_factor, 1},
    ReplyEntry{0x64, 5, decode_word, &S::set_abs_time, 1},
    ReplyEntry{0x66, 5, decode_word, &S::set_float_time, 1},
    ReplyEntry{0x68, 5, decode_word, &S::set_rfloat_time, 1440},
    ReplyEntry{0x6A, 5, decode_word, &S::set_rabs_time, 1},
    ReplyEntry{0x6C, 4, decode_byte, &S::set_egen_type, 1},
    ReplyEntry{0x6E, 4, decode_byte, &S::set_egen_ubat, 1},
    ReplyEntry{0x70, 5, decode_word, &S::set_egen_on_time, 1},
    ReplyEntry{0x72, 5, decode_word, &S::set_egen_pmax, 1},
    ReplyEntry{0x74, 4, decode_byte, &S::set_egen_sleep, 1},
    ReplyEntry{0x76, 5, decode_word, &S::set_egen_work, 1},
    ReplyEntry{0x77, 4, decode_byte, &S::bat_temperature, 1},
};
}  // namespace

std::span<const ReplyEntry> reply_catalogue() {
    return kCatalogue;
}

const ReplyEntry* find_reply(uint8_t code) {
    for (const ReplyEntry& entry : kCatalogue) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace zorvane
