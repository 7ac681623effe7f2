#include "pages/setting_edit.h"

#include <QEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include "pages/setting_write.h"

namespace zorvane {

namespace {

class SettingEditFilter : public QObject {
  public:
    SettingEditFilter(QLineEdit* edit, const SettingParam& param)
        : QObject(edit), m_edit(edit), m_param(param) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_edit && event->type() == QEvent::FocusOut) {
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
    edit->installEventFilter(new SettingEditFilter(edit, param));
}

}  // namespace zorvane
