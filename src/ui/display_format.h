// How both device pages show values: each variable in its registry format,
// the display's fixed texts, and the one rule of which control the display
// refresh leaves alone (the one the technician is using).
#pragma once

#include <QString>
#include <string_view>

class QLineEdit;
class QPushButton;
class QWidget;

namespace zorvane {

struct Variable;

// Output voltage while generation is off; EGenWork while training runs are
// off (Latin c).
inline constexpr const char* kZeroVoltsText = "0 B";
inline constexpr const char* kTrainingOffText = "0 c.";

inline constexpr const char* kGenerationOffCaption = "Выключить";
inline constexpr const char* kGenerationOnCaption = "Включить";
// The template's caption, kept while the generation state is not known.
inline constexpr const char* kGenerationUnknownCaption = "--//--";

// printf-style, in the C locale whatever the process locale is.
QString format_value(const char* format, double value);
// A value of `v` as its field shows it: the registry's format, or whole
// units with the suffix where the device keeps it finer than shown (the text
// that counts as "left as shown" for a write).
// A value that is not a number (a sensor not fitted) shows as kNotFittedText.
inline constexpr const char* kNotFittedText = "\u2014";
QString format_variable(const Variable& v, double value);

// A registry unit ("V", "VA", "min" …) as the window writes it after a
// number: the Latin capitals that stand for the Russian units, Cyrillic
// durations. Other text is returned as it is.
QString window_unit(std::string_view unit);

// Whether `control` is the focus window: the widget with the focus, or the
// owner of the focused part (an open drop-down list stays its combo box's).
bool holds_focus(const QWidget* control, const QWidget* focus);

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
