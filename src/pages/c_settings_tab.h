// What the four settings pages of the QM page share: the controls of their
// template, their setting edits tied to the setting write, tooltips that wrap
// at 250 pixels, Enter and Esc turned into a focus move onto one label of the
// page (so the edit being left commits), and Tab kept inside the page.
#pragma once

#include <QWidget>
#include <span>

#include "ui/dialog_template.h"
#include "ui/template_focus.h"
#include "ui/tooltip_control.h"

class QKeyEvent;

namespace zorvane {

struct SettingsPageTemplate {
    std::span<const ControlDef> controls;  // 290 x 78 dialog units
    std::span<const ToolDef> tools;
    int focus_label;  // takes the focus on Enter and Esc
};

class c_settings_tab : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kWidth = 290;
    static constexpr int kHeight = 78;
    static constexpr int kMaxTipWidth = 250;

    QWidget* control(int id) const { return m_controls.widget(id); }
    template <typename T>
    T* get(int id) const {
        return m_controls.get<T>(id);
    }
    const TooltipControl& tooltip() const { return *m_tooltip; }

  protected:
    c_settings_tab(QWidget* parent, const SettingsPageTemplate& page);

    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    virtual void OnOK();
    virtual void OnCancel();

  private:
    DialogControls m_controls;
    TemplateFocus m_focus_order;
    TooltipControl* m_tooltip;
    int m_focus_label;
};

}  // namespace zorvane
