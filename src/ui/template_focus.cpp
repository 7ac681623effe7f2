#include "ui/template_focus.h"

#include <QWidget>

namespace zorvane {

namespace {

bool is_tab_stop(const QWidget* w) {
    return w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus);
}

}  // namespace

void TemplateFocus::set_order(const DialogControls& built, std::span<const ControlDef> controls) {
    m_order.clear();
    for (const ControlDef& def : controls) {
        if (def.id == kNoId)
            continue;
        if (QWidget* w = built.widget(def.id))
            m_order.push_back(w);
    }
}

bool TemplateFocus::move(QWidget* focus, bool next) const {
    const int n = static_cast<int>(m_order.size());
    if (n == 0)
        return false;
    // The control holding the focus, or the one a focused inner part belongs to.
    int from = -1;
    for (int i = 0; i < n && from < 0; ++i) {
        if (focus && (m_order[i] == focus || m_order[i]->isAncestorOf(focus)))
            from = i;
    }
    if (from < 0)
        from = next ? -1 : n;
    for (int step = 1; step <= n; ++step) {
        const int i = ((from + (next ? step : -step)) % n + n) % n;
        if (is_tab_stop(m_order[i])) {
            m_order[i]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

}  // namespace zorvane
