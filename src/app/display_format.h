// Value formats and small helpers shared by the display steps of both pages.
#pragma once

#include <QString>

class QLineEdit;
class QPushButton;

namespace zorvane {

// The unit letters are Latin capitals (they stand for the Russian unit
// abbreviations); "° C" is the degree sign, a blank and a Latin C.
inline constexpr const char* kVoltsFormat = "%.1f B";
inline constexpr const char* kAmpsFormat = "%.2f A";
inline constexpr const char* kPowerFormat = "%.0f BA";
inline constexpr const char* kDegreesFormat = "%.1f ° C";
inline constexpr const char* kZeroVoltsText = "0 B";  // output while generation is off

inline constexpr const char* kGenerationOffCaption = "Выключить";
inline constexpr const char* kGenerationOnCaption = "Включить";

// printf-style, in the C locale whatever the process locale is.
QString format_value(const char* format, double value);

// Sets the text only when it differs, so an unchanged value does not reset
// the cursor or the selection of the field.
void set_text_if_changed(QLineEdit* edit, const QString& text);

// The caption always offers the opposite of the present state.
void set_generation_caption(QPushButton& button, bool generating);

}  // namespace zorvane
