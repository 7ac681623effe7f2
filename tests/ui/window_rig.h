// The main window on two simulated devices, a QM-48 on COM3 and a KX-24 on
// COM5, with the worker polling the selected one; helpers that reach every
// settings field and read the setting writes each device received.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <memory>
#include <vector>

#include "app/korvell_dlg.h"
#include "device/setting_write.h"
#include "link/frame.h"
#include "modal_boxes.h"
#include "pages/c_kx_dialog.h"
#include "pages/c_qm_dialog.h"
#include "pages/c_settings_tab.h"
#include "sim/port_directory.h"
#include "ui_fixture.h"

namespace zorvane::testing {

using Bytes = std::vector<uint8_t>;
using FrameList = std::vector<Bytes>;

// The program's end is recorded, and ends the window's modal loop only.
class RigDlg : public CKorvellDlg {
  public:
    int quits = 0;

  protected:
    void PostQuit() override {
        ++quits;
        QMetaObject::invokeMethod(
            this, [this] { done(QDialog::Rejected); }, Qt::QueuedConnection);
    }
};

// Setting writes carry a payload; reads and actions are three bytes.
inline FrameList writes_of(sim::SimulatedPort* port) {
    FrameList out;
    for (const Bytes& frame : port->received())
        if (frame.size() > 3)
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

class WindowRig : public ::testing::Test {
  protected:
    static constexpr int kQmPort = 3;
    static constexpr int kKxPort = 5;

    void SetUp() override {
        reset_device_state();
        setenv("ZORVANE_PORT_DIR", m_ports.path().c_str(), 1);
        m_qm = m_ports.add(kQmPort, {.model = DeviceModel::QM48, .serial = "Q1", .battery = {}});
        m_kx = m_ports.add(kKxPort, {.model = DeviceModel::KX24, .serial = "K1", .battery = {}});
        ASSERT_TRUE(m_qm && m_kx);
    }
    void TearDown() override {
        m_dlg.reset();  // stops and joins the worker
        setenv("ZORVANE_PORT_DIR", "/nonexistent", 1);
        reset_device_state();
    }

    // Initialisation as the program runs it, the window shown and active.
    void open_window() {
        m_dlg = std::make_unique<RigDlg>();
        ASSERT_TRUE(m_dlg->OnInitDialog());
        m_dlg->show();
        bool active = false;
        for (int attempt = 0; attempt < 3 && !active; ++attempt) {
            m_dlg->activateWindow();
            active = QTest::qWaitForWindowActive(m_dlg.get(), 1000);
        }
        ASSERT_TRUE(active);
        ASSERT_EQ(m_dlg->tabs()->count(), 2);
    }

    sim::SimulatedPort* device_of(int family) { return family == 1 ? m_kx : m_qm; }
    sim::SimulatedPort* other(sim::SimulatedPort* device) { return device == m_kx ? m_qm : m_kx; }
    static int family_of(const SettingParam& param) {
        return param.page == SettingPage::Kx ? 1 : 2;
    }

    void select_device(int family) {
        for (int i = 0; i < m_dlg->tabs()->count(); ++i)
            if (kind_of(m_dlg->tabs()->item(i)->family) == family)
                m_dlg->tabs()->select(i);
    }

    c_settings_tab* settings_page(int index) const {
        return qobject_cast<c_settings_tab*>(m_dlg->qm_page()->settings_tab()->widget(index));
    }
    static int settings_index(SettingPage page) { return static_cast<int>(page) - 1; }

    QLineEdit* field(const SettingParam& param) const {
        if (param.page == SettingPage::Kx)
            return m_dlg->kx_page()->edit(param.control_id);
        return settings_page(settings_index(param.page))->get<QLineEdit>(param.control_id);
    }

    // Selects the field's device and settings page; returns its device.
    sim::SimulatedPort* show_field(const SettingParam& param) {
        select_device(family_of(param));
        if (param.page != SettingPage::Kx)
            m_dlg->qm_page()->settings_tab()->setCurrentIndex(settings_index(param.page));
        QApplication::processEvents();
        return device_of(family_of(param));
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

    sim::PortDirectory m_ports;
    ModalAnswerer m_boxes;
    sim::SimulatedPort* m_qm = nullptr;
    sim::SimulatedPort* m_kx = nullptr;
    std::unique_ptr<RigDlg> m_dlg;
};

}  // namespace zorvane::testing
