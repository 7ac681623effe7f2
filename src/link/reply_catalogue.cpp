#include "link/reply_catalogue.h"

#include <algorithm>

#include "link/frame.h"
#include "link/temperature.h"

namespace zorvane {

namespace {

uint16_t raw_value(const Variable& v, const uint8_t* reply, int word) {
    return v.width == 1 ? reply[2] : word_at(reply, 2 + 2 * word);
}

// Divide in double and store the quotient: 125 / 10 is 12.5 exactly as the
// device meant it, not 125 * 0.1.
double converted(const Variable& v, uint16_t raw) {
    switch (v.conversion) {
        case Conversion::Thermistor:
            return ntc_temperature(static_cast<double>(raw));
        case Conversion::CaseSensor:
            return case_sensor_temperature(raw);
        case Conversion::Scaled:
            break;
    }
    return static_cast<double>(raw) / v.scale;
}

std::vector<ReplyEntry> build_catalogue() {
    std::vector<ReplyEntry> rows;
    for (const Variable& v : variables()) {
        auto row = std::find_if(rows.begin(), rows.end(),
                                [&v](const ReplyEntry& r) { return r.code == v.read_code; });
        if (row == rows.end()) {
            rows.push_back({v.read_code, 0, {}});
            row = rows.end() - 1;
        }
        row->variables.push_back(&v);
        const int words = v.is_array() ? v.word : v.word + 1;
        row->length = std::max(row->length, v.width == 1 ? 4 : 3 + 2 * words);
    }
    return rows;
}

const std::vector<ReplyEntry>& catalogue() {
    static const std::vector<ReplyEntry> rows = build_catalogue();
    return rows;
}

}  // namespace

void decode_reply(const ReplyEntry& entry, const uint8_t* reply, DeviceState& state) {
    for (const Variable* v : entry.variables) {
        if (v->is_array()) {
            auto& array = state.*v->array;
            for (int i = 0; i < v->word; ++i) {
                array[static_cast<size_t>(i)].store(converted(*v, raw_value(*v, reply, i)));
            }
        } else {
            (state.*v->field)
                .store(static_cast<float>(converted(*v, raw_value(*v, reply, v->word))));
        }
    }
}

std::span<const ReplyEntry> reply_catalogue() {
    return catalogue();
}

const ReplyEntry* find_reply(uint8_t code) {
    for (const ReplyEntry& entry : catalogue()) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace zorvane
