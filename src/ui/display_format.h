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
// The template's caption, kept while the generation state is not known.
inline constexpr const char* kGenerationUnknownCaption = "--//--";

// printf-style, in the C locale whatever the process locale is.
QString format_value(const char* format, double value);

// Sets the text only when it differs, so an unchanged value does not reset
// the cursor or the selection of the field.
void set_text_if_changed(QLineEdit* edit, const QString& text);

// The caption always offers the opposite of the present state, and claims
// none while the device's values are not current.
void set_generation_caption(QPushButton& button, bool generating);
void set_generation_caption_unknown(QPushButton& button);

void set_read_only(QLineEdit* edit, bool read_only);

// A settings field gets the device's value unless the technician is using
// it; one entered while blank (its value not read yet) is filled once the
// value is known, as long as nothing has been typed into it.
void show_setting_text(QLineEdit* edit, bool focused, const QString& text);
// While the device's values are not current: blank, and no typing into it.
// A field with typed text keeps it (leaving it is then refused).
void show_setting_unknown(QLineEdit* edit);

}  // namespace zorvane
