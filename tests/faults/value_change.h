// Values B of the fault tests: every value a simulated device reports
// changes, so that a field still holding its old value after a pass is one
// the pass did not store.
#pragma once

#include <cstdint>

#include "link/reply_catalogue.h"
#include "sim/device_model.h"

namespace zorvane::testing {

// Each word or byte of every read, each status bit, and each counter.
inline void change_every_value(sim::SimDevice& d) {
    for (const ReplyEntry& entry : reply_catalogue()) {
        const int values = entry.code == 0x41 ? 4 : entry.code == 0x46 ? 8 : 1;
        for (int i = 0; i < values; ++i) {
            d.set_value(entry.code, static_cast<uint16_t>(d.value(entry.code, i) ^ 1), i);
        }
    }
    for (int i = 0; i < 3; ++i) {
        d.set_status_byte(i, static_cast<uint8_t>(d.status_byte(i) ^ 0xFF));
    }
    for (int k = 0; k < kCounterCount; ++k) {
        d.set_counter(k, d.counter(k) + 1);
    }
}

}  // namespace zorvane::testing
