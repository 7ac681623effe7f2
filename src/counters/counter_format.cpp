#include "counters/counter_format.h"

#include <array>
#include <cstdio>

namespace zorvane {

namespace {

using enum CounterForm;

// Captions are the device's own texts, kept letter for letter: row 0 lacks the
// second "е" of "Количество", and "ВА" of row 3 is Cyrillic.
constexpr std::array<CounterDef, kCounterCount> kCounters{{
    {0, "Количство включений", 68, Number},
    {1, "Полная наработка", 73, Duration},
    {2, "Наработка в режиме генерации", 56, Duration},
    {3, "Наработка при отдаваемой мощности более 3000 ВА", 29, Duration, true},
    {4, "Наработка вентиляторов", 64, Duration},
    {5, "Сгенерированная энергия", 63, Energy},
    {6, "Количество аппаратных отключений из-за перегрузки по току", 15, Number},
    {7, "Количество программных отключений из-за превышения мощности", 10, Number},
    {8, "Количество перегревов трансформаторов", 42, Number},
    {9, "Количество перегревов радиаторов", 50, Number},
    {10, "Количество превышений внутренней температуры", 31, Number},
    {11, "Количество понижений ниже мин. предела внутренней температуры", 8, Number},
    {12, "Количество понижений напряжения на батарее", 35, Number},
    {13, "Количество повышений напряжения на батарее", 35, Number},
    {14, "Количество выключений при обнаружении внутренней неисправности", 6, Number},
    {15, "Количество фатальных ошибок", 56, Number},
    {16, "Количество переходов с сети на батарею", 43, Number},
}};

const CounterDef* find_counter(int index) {
    if (index < 0 || index >= kCounterCount)
        return nullptr;
    return &kCounters[static_cast<size_t>(index)];
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

std::span<const CounterDef> counter_table() {
    return kCounters;
}

std::string format_counter(int index, int32_t value) {
    const CounterDef* def = find_counter(index);
    if (!def)
        return {};
    char text[32];
    switch (def->form) {
        case Duration:
            return format_duration(value);
        case Energy:
            // Latin B and A, Cyrillic ч.
            std::snprintf(text, sizeof text, "%d BA*ч", value);
            return text;
        case Number:
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
