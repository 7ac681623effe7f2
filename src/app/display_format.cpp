#include "app/display_format.h"

#include <QLineEdit>
#include <QPushButton>

namespace zorvane {

QString format_value(const char* format, double value) {
    return QString::asprintf(format, value);
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
