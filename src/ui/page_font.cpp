#include "ui/page_font.h"

#include <QFont>
#include <QFontMetrics>
#include <QLabel>

namespace zorvane {

namespace {

bool labels_fit(const QWidget* page, const QFont& font) {
    const QFontMetrics metrics(font);
    for (const QLabel* label : page->findChildren<QLabel*>()) {
        if (!label->text().isEmpty() && metrics.horizontalAdvance(label->text()) > label->width())
            return false;
    }
    return true;
}

}  // namespace

void fit_font_to_labels(QWidget* page) {
    QFont font = page->font();
    double size = font.pointSizeF();
    if (size <= 0)
        return;  // a pixel-sized font: left as it is
    while (size > kSmallestPageFont && !labels_fit(page, font)) {
        size -= 0.5;
        font.setPointSizeF(size);
    }
    if (font != page->font())
        page->setFont(font);
}

}  // namespace zorvane
