#include "ui/tooltip_control.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QStringList>
#include <QStyle>
#include <QToolTip>
#include <QWidget>

namespace zorvane {

namespace {

// The tip window draws a frame and a margin around its text; the maximum
// width counts the whole window, like the native control's.
int text_width_limit(const QWidget* page, int max_tip_width) {
    const int frame = page->style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth);
    return max_tip_width - 2 * (frame + 1) - 2;
}

// Cuts one word into pieces no wider than `limit`.
QStringList cut_word(const QString& word, const QFontMetrics& metrics, int limit) {
    QStringList pieces;
    QString piece;
    for (const QChar c : word) {
        if (!piece.isEmpty() && metrics.horizontalAdvance(piece + c) > limit) {
            pieces << piece;
            piece.clear();
        }
        piece += c;
    }
    if (!piece.isEmpty())
        pieces << piece;
    return pieces;
}

}  // namespace

TooltipControl::TooltipControl(QWidget* page) : QObject(page), m_page(page) {}

void TooltipControl::add_tool(QWidget* tool, const QString& text) {
    if (!tool)
        return;
    tool->setToolTip(text);
    tool->installEventFilter(this);
}

QString TooltipControl::shown_text(const QString& text) const {
    if (m_max_tip_width <= 0)
        return text;
    const QFontMetrics metrics(QToolTip::font());
    const int limit = text_width_limit(m_page, m_max_tip_width);
    QStringList lines;
    QString line;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (metrics.horizontalAdvance(candidate) <= limit) {
            line = candidate;
            continue;
        }
        if (!line.isEmpty())
            lines << line;
        QStringList pieces = cut_word(word, metrics, limit);
        line = pieces.takeLast();
        lines << pieces;
    }
    if (!line.isEmpty())
        lines << line;
    // Plain text with line breaks: the tip shows the lines as they are.
    return lines.join(QLatin1Char('\n'));
}

bool TooltipControl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show || event->type() == QEvent::ParentChange) {
        // Tips show even while another application is active.
        if (QWidget* window = m_page->window())
            window->setAttribute(Qt::WA_AlwaysShowToolTips);
    }
    if (event->type() != QEvent::ToolTip)
        return false;
    auto* tool = qobject_cast<QWidget*>(watched);
    if (!tool || tool->toolTip().isEmpty())
        return false;
    const auto* help = static_cast<QHelpEvent*>(event);
    QToolTip::showText(help->globalPos(), shown_text(tool->toolTip()), tool);
    return true;
}

}  // namespace zorvane
