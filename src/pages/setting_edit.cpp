#include "pages/setting_edit.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <string>

#include "device/setting_write.h"

namespace zorvane {

namespace {

constexpr const char* kWriteAnyway = "Записать это значение всё равно?";
constexpr const char* kOtherDevice =
    "Выбрано другое устройство: значение не записано ни на одно из них.";

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
        if (decision.kind != SettingDecision::Kind::Refused)
            return;
        // Shown once the focus change has finished, so the box does not
        // take part in it.
        QWidget* window = m_edit->window();
        const QString refusal = QString::fromStdString(decision.refusal);
        if (!decision.overridable) {
            QTimer::singleShot(0, window, [window, refusal] {
                QMessageBox::warning(window, QStringLiteral("Zorvane"), refusal);
            });
            return;
        }
        // A value beyond what the unit's class survives, or one inverting an
        // ordered pair: the technician at the unit may write it all the same,
        // by an explicit choice (No is the default).
        const SettingParam* param = &m_param;
        const std::string typed = m_edit->text().toStdString();
        const int port = device_state.g_com_port.load();
        const int kind = device_state.g_device_kind.load();
        QTimer::singleShot(0, window, [window, refusal, param, typed, port, kind] {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Zorvane"),
                            refusal + QStringLiteral("\n\n") + QString::fromUtf8(kWriteAnyway),
                            QMessageBox::Yes | QMessageBox::No, window);
            box.setDefaultButton(QMessageBox::No);
            if (box.exec() != QMessageBox::Yes)
                return;
            // The answer is for the unit it was typed for: another device tab
            // chosen meanwhile gets nothing.
            if (device_state.g_com_port.load() != port ||
                device_state.g_device_kind.load() != kind) {
                QMessageBox::warning(window, QStringLiteral("Zorvane"),
                                     QString::fromUtf8(kOtherDevice));
                return;
            }
            const SettingDecision again = write_setting(serial_port(), device_state, *param, typed,
                                                        WriteOptions{.confirmed = true});
            if (again.kind == SettingDecision::Kind::Refused)
                QMessageBox::warning(window, QStringLiteral("Zorvane"),
                                     QString::fromStdString(again.refusal));
        });
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
