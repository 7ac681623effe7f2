#include "pages/c_settings_tab.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "device/setting_write.h"
#include "pages/c_kx_qm.h"
#include "pages/setting_edit.h"

namespace zorvane {

c_settings_tab::c_settings_tab(QWidget* parent, const SettingsPageTemplate& page)
    : QWidget(parent), m_focus_label(page.focus_label) {
    m_controls = build_dialog(this, kWidth, kHeight, page.controls);
    m_focus_order.set_order(m_controls, page.controls);

    // Every edit of a settings page writes its setting when it loses the
    // focus, with the guards of its row.
    for (const ControlDef& def : page.controls) {
        if (def.kind != ControlKind::Edit)
            continue;
        auto* edit = m_controls.get<QLineEdit>(def.id);
        const SettingParam* param = find_setting(def.id);
        Q_ASSERT(edit && param);
        if (edit && param)
            attach_setting_edit(edit, *param);
    }

    m_tooltip = new TooltipControl(this);
    m_tooltip->set_max_tip_width(kMaxTipWidth);
    for (const ToolDef& tool : page.tools)
        m_tooltip->add_tool(control(tool.id), QString::fromUtf8(tool.text));
}

void c_settings_tab::keyPressEvent(QKeyEvent* event) {
    if (!dispatch_enter_esc(
            event, [this] { OnOK(); }, [this] { OnCancel(); })) {
        QWidget::keyPressEvent(event);
    }
}

bool c_settings_tab::focusNextPrevChild(bool next) {
    return m_focus_order.move(QApplication::focusWidget(), next);
}

// The label cannot be tabbed to, but it can hold the focus: taking it away
// from the edit is what commits the edit.
void c_settings_tab::OnOK() {
    if (QWidget* label = control(m_focus_label))
        label->setFocus(Qt::OtherFocusReason);
}

void c_settings_tab::OnCancel() {
    OnOK();
}

}  // namespace zorvane
