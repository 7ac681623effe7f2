// A QM page in a window of its own, with a generation button, the device
// state back to zero and no worker running (a write borrows the port at once).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "app/display_step.h"
#include "pages/c_qm_dialog.h"
#include "pages/c_settings_tab.h"
#include "state/device_state.h"

namespace zorvane::testing {

inline void reset_qm_state() {
    DeviceState& s = device_state;
    s.clear_device_values();
    s.g_com_port.store(0);
    s.g_device_kind.store(2);
    s.g_poll_pause.store(0);
    s.g_settings_shown.store(0);
    s.g_worker_idle.store(1);
    // As after the first complete pass: what is stored is the device's.
    s.g_values_read.store(1);
    s.g_device_answering.store(1);
}

inline void set_bits(StatusBits& bits, std::initializer_list<int> set) {
    for (auto& b : bits) b.store(0);
    for (int i : set) bits[i].store(1);
}

class QmPageFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_qm_state();
        m_window = std::make_unique<QWidget>();
        m_page = new c_qm_dialog(m_window.get());
        m_gen_button = new QPushButton(m_window.get());
        m_gen_button->move(0, m_page->height());
        m_window->show();
        activate();
    }

    void TearDown() override {
        // As the close sequence does: nothing writes once the window goes.
        device_state.g_settings_shown.store(0);
        m_window.reset();
        reset_qm_state();
    }

    void activate() {
        QApplication::setActiveWindow(m_window.get());
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    }

    void step() { qm_display_step(*m_page, *m_gen_button); }

    c_settings_tab* tab(int i) const {
        return qobject_cast<c_settings_tab*>(m_page->settings_tab()->widget(i));
    }
    QLineEdit* tab_edit(int i, int id) const { return tab(i)->get<QLineEdit>(id); }
    QLineEdit* page_edit(int id) const { return m_page->get<QLineEdit>(id); }

    void show_tab(int i) {
        m_page->settings_tab()->setCurrentIndex(i);
        QApplication::processEvents();
    }

    // Gives `w` the keyboard focus and waits until it has it.
    void focus(QWidget* w) {
        w->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(QTest::qWaitFor([w] { return QApplication::focusWidget() == w; }, 1000));
    }

    std::unique_ptr<QWidget> m_window;
    c_qm_dialog* m_page = nullptr;
    QPushButton* m_gen_button = nullptr;
};

}  // namespace zorvane::testing
