#include "ui/display_format.h"

#include <QLineEdit>
#include <QPushButton>
#include <cmath>

#include "device/setting_write.h"
#include "state/variables.h"

namespace zorvane {

QString window_unit(std::string_view unit) {
    struct Unit {
        std::string_view registry;
        const char* window;
    };
    static constexpr Unit kUnits[] = {
        {"V", "B"},     {"A", "A"},    {"VA", "BA"},  {"°C", "° C"},
        {"min", "мин"}, {"s", "сек."}, {"d", "сут."},
    };
    for (const Unit& u : kUnits) {
        if (u.registry == unit)
            return QString::fromUtf8(u.window);
    }
    return QString::fromUtf8(unit.data(), static_cast<qsizetype>(unit.size()));
}

QString format_value(const char* format, double value) {
    return QString::asprintf(format, value);
}

QString format_variable(const Variable& v, double value) {
    // A sensor that is not fitted (or a reading out of its formula's range)
    // gives NaN: the value keeps it, the page shows a dash.
    if (std::isnan(value))
        return QString::fromUtf8(kNotFittedText);
    if (const char* suffix = v.whole_shown_suffix())
        return QString::fromStdString(whole_shown_text(suffix, static_cast<float>(value)));
    return format_value(v.format, value);
}

bool holds_focus(const QWidget* control, const QWidget* focus) {
    for (const QWidget* w = focus; w; w = w->parentWidget()) {
        if (w == control)
            return true;
    }
    return false;
}

void set_text_if_changed(QLineEdit* edit, const QString& text) {
    if (edit->text() != text)
        edit->setText(text);
}

void set_generation_caption(QPushButton& button, bool generating) {
    const QString caption =
        QString::fromUtf8(generating ? kGenerationOffCaption : kGenerationOnCaption);
    if (button.text() != caption)
        button.setText(caption);
}

}  // namespace zorvane

namespace zorvane {

void set_generation_caption_unknown(QPushButton& button) {
    const QString caption = QString::fromUtf8(kGenerationUnknownCaption);
    if (button.text() != caption)
        button.setText(caption);
}

void set_read_only(QLineEdit* edit, bool read_only) {
    if (edit && edit->isReadOnly() != read_only)
        edit->setReadOnly(read_only);
}

void show_setting_text(QLineEdit* edit, bool focused, const QString& text) {
    if (!focused || (edit->text().isEmpty() && !edit->isModified()))
        set_text_if_changed(edit, text);
}

void show_setting_unknown(QLineEdit* edit) {
    set_read_only(edit, true);
    if (!edit->isModified())
        set_text_if_changed(edit, QString());
}

}  // namespace zorvane
