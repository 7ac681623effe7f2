// Answers the modal windows that the code under test opens, as a technician
// would: each one is recorded and closed (message boxes with OK, any other
// dialog with reject()), except the main window itself.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace zorvane::testing {

struct SeenWindow {
    std::string class_name;  // "QMessageBox", "zorvane::c_dlg_srch" …
    std::string caption;
    std::string text;  // message boxes only
};

class ModalAnswerer {
  public:
    // `inspect` sees each window before it is closed (while it is shown).
    explicit ModalAnswerer(std::function<void(QDialog&)> inspect = {})
        : m_inspect(std::move(inspect)) {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { answer(); });
        m_timer.start();
    }

    const std::vector<SeenWindow>& seen() const { return m_seen; }
    int count_text(const char* text) const {
        int n = 0;
        for (const SeenWindow& w : m_seen) n += w.text == text;
        return n;
    }

  private:
    void answer() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        // The main window runs modally too; it is the one under test.
        if (dialog == nullptr || !dialog->isVisible() || dialog->inherits("zorvane::CKorvellDlg"))
            return;
        SeenWindow seen{dialog->metaObject()->className(), dialog->windowTitle().toStdString(), {}};
        if (auto* box = qobject_cast<QMessageBox*>(dialog))
            seen.text = box->text().toStdString();
        m_seen.push_back(seen);
        if (m_inspect)
            m_inspect(*dialog);
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->accept();
        } else {
            dialog->reject();
        }
    }

    std::function<void(QDialog&)> m_inspect;
    QTimer m_timer;
    std::vector<SeenWindow> m_seen;
};

}  // namespace zorvane::testing
