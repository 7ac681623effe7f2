// Keyboard navigation that stays inside one page: Tab and Shift+Tab walk the
// page's tab stops in template order and wrap around, the way a dialog's own
// navigation does.
#pragma once

#include <span>
#include <vector>

#include "ui/dialog_template.h"

class QWidget;

namespace zorvane {

class TemplateFocus {
  public:
    // The controls of `controls` that have an id, in template order.
    void set_order(const DialogControls& built, std::span<const ControlDef> controls);

    // Moves the focus from the control that holds it (or from before the
    // first one) to the next or previous tab stop. False when the page has no
    // tab stop that can take the focus.
    bool move(QWidget* focus, bool next) const;

    const std::vector<QWidget*>& order() const { return m_order; }

  private:
    std::vector<QWidget*> m_order;
};

}  // namespace zorvane
