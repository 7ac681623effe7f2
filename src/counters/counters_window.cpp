#include "counters/counters_window.h"

#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <algorithm>
#include <cstdint>

#include "counters/counter_format.h"
#include "state/device_state.h"
#include "ui/dialog_template.h"

namespace zorvane {

namespace {

constexpr int kRowTop = 10;  // dialog units
constexpr int kRowPitch = 14;
constexpr int kRowHeight = 8;
constexpr int kCaptionX = 12;
constexpr int kValueX = 271;
constexpr int kValueWidth = 95;
constexpr const char* kValuePlaceholder = "Статический";

// The captions are the device's own, written for a narrower dialog font than
// DejaVu Sans: at full width the longest no longer fits its static. The window
// takes the widest stretch of its font at which every caption with its whole
// leader, and the longest value a counter can have, fit their statics; below
// kNarrowest the leaders give way instead (fit_caption).
constexpr int kNarrowest = 75;  // percent

bool row_fits(const QFontMetrics& metrics, int row, int caption_width) {
    if (metrics.horizontalAdvance(QString::fromUtf8(counter_caption_with_leader(row))) >
        dlu_x(caption_width))
        return false;
    for (int32_t extreme : {INT32_MIN, INT32_MAX}) {
        if (metrics.horizontalAdvance(QString::fromUtf8(format_counter(row, extreme))) >
            dlu_x(kValueWidth))
            return false;
    }
    return true;
}

QFont counters_font(std::span<const int> caption_widths) {
    QFont font(QStringLiteral("DejaVu Sans"), 8);
    for (int stretch = 100; stretch >= kNarrowest; --stretch) {
        font.setStretch(stretch);
        const QFontMetrics metrics(font);
        bool fits = true;
        for (size_t i = 0; i < caption_widths.size() && fits; ++i)
            fits = row_fits(metrics, static_cast<int>(i), caption_widths[i]);
        if (fits)
            break;
    }
    return font;
}

// The caption with as much of its leader as the static can show: the leader
// is what gives way, never the caption, and a full stop is never cut in half.
QString fit_caption(const QFontMetrics& metrics, int row, int width) {
    const QString full = QString::fromUtf8(counter_caption_with_leader(row));
    const qsizetype caption_length = full.size() - counter_table()[static_cast<size_t>(row)].leader;
    QString text = full;
    while (text.size() > caption_length && metrics.horizontalAdvance(text) > width) text.chop(1);
    return text;
}

}  // namespace

CountersWindow::CountersWindow(const CountersTemplate& tpl, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kCountersCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(counters_font(tpl.caption_widths));

    const size_t rows = std::min(tpl.caption_widths.size(), size_t{kCounterCount});
    const QFontMetrics metrics(font());
    std::vector<QByteArray> captions;
    captions.reserve(rows);
    std::vector<ControlDef> controls;
    controls.reserve(2 * rows);
    for (size_t i = 0; i < rows; ++i) {
        const int row = static_cast<int>(i);
        const int y = kRowTop + kRowPitch * row;
        const int width = tpl.caption_widths[i];
        captions.push_back(fit_caption(metrics, row, dlu_x(width)).toUtf8());
        controls.push_back({kNoId, ControlKind::Label, captions.back().constData(), kCaptionX, y,
                            width, kRowHeight});
        controls.push_back({tpl.first_value_id + row, ControlKind::Label, kValuePlaceholder,
                            kValueX, y, kValueWidth, kRowHeight});
    }
    const DialogControls built = build_dialog(this, tpl.width, tpl.height, controls);

    // Only the value statics have ids; the caption statics are the unnamed
    // labels, in creation order.
    for (QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->objectName().isEmpty())
            m_captions.push_back(label);
    }
    for (size_t i = 0; i < rows; ++i)
        m_values.push_back(built.get<QLabel>(tpl.first_value_id + static_cast<int>(i)));
    OnInitDialog();
}

QLabel* CountersWindow::caption_static(int row) const {
    return row >= 0 && row < rows() ? m_captions[static_cast<size_t>(row)] : nullptr;
}

QLabel* CountersWindow::value_static(int row) const {
    return row >= 0 && row < rows() ? m_values[static_cast<size_t>(row)] : nullptr;
}

void CountersWindow::OnInitDialog() {
    const CounterValues values = device_state.lifetime_counters.snapshot();
    for (int row = 0; row < rows(); ++row) {
        m_values[static_cast<size_t>(row)]->setText(
            QString::fromUtf8(format_counter(row, values[static_cast<size_t>(row)])));
    }
}

void CountersWindow::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

}  // namespace zorvane
