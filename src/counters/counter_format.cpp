#include "counters/counter_format.h"

#include <array>
#include <cstdio>

namespace zorvane {

namespace {

const CounterDef* find_counter(int index) {
    if (index < 0 || index >= kCounterCount)
        return nullptr;
    return &counter_table()[static_cast<size_t>(index)];
}

// A 32-bit wire value of 2^31 or more arrives here negative and is shown so:
// every step stays in signed 32-bit arithmetic and each division truncates
// toward zero, so the parts of a negative duration all carry its sign.
std::string format_duration(int32_t s) {
    const int32_t days = s / 86400;
    int32_t rest = s - days * 86400;
    const int32_t hours = rest / 3600;
    rest -= hours * 3600;
    const int32_t minutes = rest / 60;
    const int32_t seconds = rest - minutes * 60;
    char text[96];
    std::snprintf(text, sizeof text, "%d д. %d ч. %d мин. %d с.", days, hours, minutes, seconds);
    return text;
}

}  // namespace

std::string format_counter(int index, int32_t value) {
    const CounterDef* def = find_counter(index);
    if (!def)
        return {};
    char text[32];
    switch (def->form) {
        case CounterForm::Duration:
            return format_duration(value);
        case CounterForm::Energy:
            // Latin B and A, Cyrillic ч.
            std::snprintf(text, sizeof text, "%d BA*ч", value);
            return text;
        case CounterForm::Number:
            break;
    }
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

std::string counter_caption_with_leader(int index) {
    const CounterDef* def = find_counter(index);
    if (!def)
        return {};
    std::string text = def->caption;
    if (def->space_before_leader)
        text += ' ';
    text.append(static_cast<size_t>(def->leader), '.');
    return text;
}

}  // namespace zorvane
