#include "pages/setting_edit.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include "device/setting_write.h"

namespace zorvane {

namespace {

class SettingEditFilter : public QObject {
  public:
    SettingEditFilter(QLineEdit* edit, const SettingParam& param)
        : QObject(edit), m_edit(edit), m_param(param) {
        setObjectName(QLatin1String(kName));
    }

    static constexpr const char* kName = "setting_edit_filter";

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_edit)
            return false;
        // A context menu takes the focus for a moment (its Paste is an edit
        // like any other): that is no entering or leaving of the field.
        if (event->type() == QEvent::FocusIn &&
            static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
            m_edit->setModified(false);
        } else if (event->type() == QEvent::FocusOut &&
                   static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
            // The edit's modified flag is set by the technician's edits only,
            // never by the display's setText.
            const bool changed = m_edit->isModified();
            m_edit->setModified(false);
            if (changed)
                on_kill_focus();
        }
        return false;
    }

  private:
    void on_kill_focus() {
        if (m_param.shown_guard && device_state.g_settings_shown.load() == 0)
            return;
        if (m_param.read_only_guard && m_edit->isReadOnly())
            return;
        const SettingDecision decision =
            write_setting(serial_port(), device_state, m_param, m_edit->text().toStdString());
        if (decision.kind == SettingDecision::Kind::Refused) {
            // Shown once the focus change has finished, so the box does not
            // take part in it.
            QWidget* window = m_edit->window();
            const QString text = QString::fromStdString(decision.refusal);
            QTimer::singleShot(0, window, [window, text] {
                QMessageBox::warning(window, QStringLiteral("Zorvane"), text);
            });
        }
    }

    QLineEdit* m_edit;
    const SettingParam& m_param;
};

}  // namespace

void attach_setting_edit(QLineEdit* edit, const SettingParam& param) {
    // Nothing can be typed until the display has shown the device's value.
    edit->setReadOnly(true);
    edit->installEventFilter(new SettingEditFilter(edit, param));
}

void detach_setting_edits(QWidget* page) {
    for (QLineEdit* edit : page->findChildren<QLineEdit*>()) {
        for (QObject* filter : edit->findChildren<QObject*>(QLatin1String(SettingEditFilter::kName),
                                                            Qt::FindDirectChildrenOnly))
            delete filter;
    }
}

}  // namespace zorvane
