// The one fixture of the window tests. Every test starts from a zero device
// state with no worker, a folder of simulated ports of its own behind
// ZORVANE_PORT_DIR, and a technician who answers the modal windows; it then
// opens the main window as the program does, or hosts one page on its own.
// Helpers reach every settings field, type as a technician types and read the
// frames each simulated device received.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/display_step.h"
#include "app/korvell_dlg.h"
#include "device/setting_write.h"
#include "link/frame.h"
#include "pages/c_kx_dialog.h"
#include "pages/c_qm_dialog.h"
#include "pages/c_settings_tab.h"
#include "sim/port_directory.h"
#include "state/device_state.h"

namespace zorvane::testing {

using Bytes = std::vector<uint8_t>;
using FrameList = std::vector<Bytes>;

// ---- the shared state ------------------------------------------------------

inline void reset_device_state() {
    DeviceState& s = device_state;
    s.clear_device_values();
    s.g_com_port.store(0);
    s.g_device_kind.store(0);
    store_identification(s, {});
    s.g_main_thread_id.store(0);
    s.g_poll_pause.store(0);
    s.g_settings_shown.store(0);
    s.g_values_read.store(0);
    s.g_device_answering.store(1);
    s.g_last_answer_ms.store(0);
    // No worker unless a window starts one: a write borrowing the port must not wait.
    s.g_worker_idle.store(1);
}

inline void set_bits(StatusBits& bits, std::initializer_list<int> set) {
    for (auto& b : bits) b.store(0);
    for (int i : set) bits[i].store(1);
}

// ---- the technician's hands ------------------------------------------------

struct SeenWindow {
    std::string class_name;  // "QMessageBox", "zorvane::c_dlg_srch" …
    std::string caption;
    std::string text;  // message boxes only
};

// Answers the modal windows that the code under test opens: each one is
// recorded and closed (message boxes with OK, any other dialog with reject()),
// except the main window itself. `answer`, when set, may answer a window in
// its own way (returns true when it did); `inspect` sees each window first.
class ModalAnswerer {
  public:
    std::function<void(QDialog&)> inspect;
    std::function<bool(QDialog&)> answer;

    ModalAnswerer() {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { answer_one(); });
        m_timer.start();
    }

    const std::vector<SeenWindow>& seen() const { return m_seen; }
    int count_text(const char* text) const {
        int n = 0;
        for (const SeenWindow& w : m_seen) n += w.text == text;
        return n;
    }

  private:
    void answer_one() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        // The main window runs modally too; it is the one under test.
        if (dialog == nullptr || !dialog->isVisible() || dialog->inherits("zorvane::CKorvellDlg"))
            return;
        SeenWindow seen{dialog->metaObject()->className(), dialog->windowTitle().toStdString(), {}};
        if (auto* box = qobject_cast<QMessageBox*>(dialog))
            seen.text = box->text().toStdString();
        m_seen.push_back(seen);
        if (inspect)
            inspect(*dialog);
        if (answer && answer(*dialog))
            return;
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->accept();
        } else {
            dialog->reject();
        }
    }

    QTimer m_timer;
    std::vector<SeenWindow> m_seen;
};

// Answers a box that asks "Да" or "Нет" (true when `modal` is one): Yes by
// its button, no by Enter, which presses the default button.
inline bool answer_question(QDialog& modal, bool yes) {
    auto* box = qobject_cast<QMessageBox*>(&modal);
    if (box == nullptr || box->button(QMessageBox::Yes) == nullptr)
        return false;
    if (yes)
        box->button(QMessageBox::Yes)->click();
    else
        QTest::keyClick(box, Qt::Key_Return);
    return true;
}

// Types `text` as key presses; characters beyond ASCII (Cyrillic units, the
// no-break and thin spaces) come as key events that carry only their text.
inline void type_text(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(widget, c.toLatin1());
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

// Saves a picture of `widget` as NAME in ZORVANE_SCREENSHOT_DIR, when set.
inline void screenshot(QWidget& widget, const QString& name) {
    if (const char* dir = std::getenv("ZORVANE_SCREENSHOT_DIR"))
        widget.grab().save(QStringLiteral("%1/%2").arg(QString::fromLocal8Bit(dir), name));
}

// ---- what a simulated device received ---------------------------------------

// Setting writes carry a payload; reads and actions are three bytes.
inline FrameList writes_of(sim::SimulatedPort* port) {
    FrameList out;
    for (const Bytes& frame : port->received())
        if (frame.size() > 3)
            out.push_back(frame);
    return out;
}

// Frames of one command.
inline FrameList frames_of(sim::SimulatedPort* port, uint8_t code) {
    FrameList out;
    for (const Bytes& frame : port->received())
        if (frame.size() >= 2 && frame[1] == code)
            out.push_back(frame);
    return out;
}

inline FrameList frames(std::initializer_list<Bytes> list) {
    return FrameList(list);
}

inline Bytes write_frame(const SettingParam& param, int wire) {
    if (param.payload_width == 1)
        return {kFrameStart, param.write_command, static_cast<uint8_t>(wire), kFrameEnd};
    return {kFrameStart, param.write_command, static_cast<uint8_t>(wire >> 8),
            static_cast<uint8_t>(wire & 0xFF), kFrameEnd};
}

inline Family family_of(const SettingParam& param) {
    return param.page == SettingPage::Kx ? Family::Kx : Family::Qm;
}

// ---- the fixture -------------------------------------------------------------

// The main window whose program end is recorded and ends its modal loop only.
class TestWindow : public CKorvellDlg {
  public:
    int quits = 0;

  protected:
    void PostQuit() override {
        ++quits;
        QMetaObject::invokeMethod(
            this, [this] { done(QDialog::Rejected); }, Qt::QueuedConnection);
    }
};

class UiFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* dir = std::getenv("ZORVANE_PORT_DIR"))
            m_saved_port_dir = dir;
        ::setenv("ZORVANE_PORT_DIR", m_ports.path().c_str(), 1);
        reset_device_state();
    }
    void TearDown() override {
        // As the close sequence does: nothing writes once the window goes.
        device_state.g_settings_shown.store(0);
        m_dlg.reset();  // stops and joins the worker
        m_host.reset();
        if (m_saved_port_dir)
            ::setenv("ZORVANE_PORT_DIR", m_saved_port_dir->c_str(), 1);
        else
            ::unsetenv("ZORVANE_PORT_DIR");
        reset_device_state();
    }

    sim::SimulatedPort* add_device(int com_port, DeviceModel model, const char* serial) {
        return m_ports.add(com_port, {.model = model, .serial = serial, .battery = {}});
    }

    // The main window: initialisation as the program runs it, shown and active.
    void open_window() {
        m_dlg = std::make_unique<TestWindow>();
        ASSERT_TRUE(m_dlg->OnInitDialog());
        m_dlg->show();
        // A box that was waiting for the event loop (a link lost during the
        // search) takes the activation for a moment: ask again after it.
        bool active = false;
        for (int attempt = 0; attempt < 3 && !active; ++attempt) {
            m_dlg->activateWindow();
            active = QTest::qWaitForWindowActive(m_dlg.get(), 1000);
        }
        ASSERT_TRUE(active);
    }

    void select_device(Family family) {
        for (int i = 0; i < m_dlg->tabs()->count(); ++i)
            if (m_dlg->tabs()->item(i)->family == family)
                m_dlg->tabs()->select(i);
    }
    Family selected_family() const { return m_dlg->tabs()->item(m_dlg->tabs()->current())->family; }

    static int settings_index(SettingPage page) { return static_cast<int>(page) - 1; }
    c_qm_dialog* qm_page() const { return m_qm_page ? m_qm_page : m_dlg->qm_page(); }
    c_kx_dialog* kx_page() const { return m_kx_page ? m_kx_page : m_dlg->kx_page(); }
    // The QM page's settings tab `i`, and its edits.
    c_settings_tab* tab(int i) const {
        return qobject_cast<c_settings_tab*>(qm_page()->settings_tab()->widget(i));
    }
    QLineEdit* tab_edit(int i, int id) const { return tab(i)->get<QLineEdit>(id); }
    QLineEdit* page_edit(int id) const { return qm_page()->get<QLineEdit>(id); }
    void show_tab(int i) {
        qm_page()->settings_tab()->setCurrentIndex(i);
        QApplication::processEvents();
    }
    QLineEdit* field(const SettingParam& param) const {
        if (param.page == SettingPage::Kx)
            return kx_page()->edit(param.control_id);
        return tab_edit(settings_index(param.page), param.control_id);
    }
    // Selects the field's device and settings page.
    void show_field(const SettingParam& param) {
        if (m_dlg)
            select_device(family_of(param));
        if (param.page != SettingPage::Kx)
            show_tab(settings_index(param.page));
        QApplication::processEvents();
    }

    // Gives `w` the keyboard focus and waits until it has it.
    void focus(QWidget* w) {
        w->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(QTest::qWaitFor([w] { return QApplication::focusWidget() == w; }, 1000));
    }

    // Enters the field, types `text` over it (none: types nothing), leaves
    // with `key` (Key_unknown: a click elsewhere, on the device tabs).
    void leave(QLineEdit* edit, const QString& text, Qt::Key key) {
        edit->setFocus(Qt::MouseFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), edit);
        if (!text.isNull()) {
            edit->selectAll();
            type_text(edit, text);
        }
        if (key == Qt::Key_unknown)
            m_dlg->tabs()->bar()->setFocus(Qt::MouseFocusReason);
        else
            QTest::keyClick(edit, key);
        ASSERT_NE(QApplication::focusWidget(), edit);
    }

    // One page on its own in a dialog (an Esc that escaped the page would
    // close it), with a generation button beside it; the device state as
    // after the first complete pass of a device of that family.
    void host_kx_page() {
        host_page(Family::Kx);
        m_kx_page = new c_kx_dialog(m_host.get());
        m_host->resize(700, 380);
        m_gen_button->move(670, 0);
        show_host();
    }
    void host_qm_page() {
        host_page(Family::Qm);
        m_qm_page = new c_qm_dialog(m_host.get());
        m_gen_button->move(0, m_qm_page->height());
        m_host->resize(m_qm_page->width(), m_qm_page->height() + m_gen_button->height());
        show_host();
    }
    void activate_host() {
        QApplication::setActiveWindow(m_host.get());
        m_host->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_host.get()));
    }
    // The display step of the hosted page, as the window's timer runs it.
    void step() {
        if (m_kx_page)
            kx_display_step(*m_kx_page, *m_gen_button);
        else
            qm_display_step(*m_qm_page, *m_gen_button);
    }

    sim::PortDirectory m_ports;
    ModalAnswerer m_boxes;
    std::unique_ptr<TestWindow> m_dlg;
    std::unique_ptr<QDialog> m_host;
    c_kx_dialog* m_kx_page = nullptr;
    c_qm_dialog* m_qm_page = nullptr;
    QPushButton* m_gen_button = nullptr;

  private:
    void host_page(Family family) {
        device_state.g_device_kind.store(kind_of(family));
        device_state.g_values_read.store(1);
        m_host = std::make_unique<QDialog>();
        m_gen_button = new QPushButton(QStringLiteral("--//--"), m_host.get());
    }
    void show_host() {
        m_host->show();
        activate_host();
    }

    std::optional<std::string> m_saved_port_dir;
};

// The main window on two simulated devices, a QM-48 on COM3 and a KX-24 on
// COM5, with the worker polling the selected one.
class TwoDevices : public UiFixture {
  protected:
    static constexpr int kQmPort = 3;
    static constexpr int kKxPort = 5;

    void SetUp() override {
        UiFixture::SetUp();
        m_qm = add_device(kQmPort, DeviceModel::QM48, "Q1");
        m_kx = add_device(kKxPort, DeviceModel::KX24, "K1");
        ASSERT_TRUE(m_qm && m_kx);
    }
    void open_window() {
        UiFixture::open_window();
        ASSERT_EQ(m_dlg->tabs()->count(), 2);
    }

    sim::SimulatedPort* device_of(Family family) { return family == Family::Kx ? m_kx : m_qm; }
    sim::SimulatedPort* other(sim::SimulatedPort* device) { return device == m_kx ? m_qm : m_kx; }
    // Selects the field's device and settings page; returns its device.
    sim::SimulatedPort* show_field(const SettingParam& param) {
        UiFixture::show_field(param);
        return device_of(family_of(param));
    }

    sim::SimulatedPort* m_qm = nullptr;
    sim::SimulatedPort* m_kx = nullptr;
};

}  // namespace zorvane::testing
