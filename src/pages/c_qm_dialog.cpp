#include "pages/c_qm_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>

#include "pages/c_tab_1.h"
#include "pages/c_tab_2.h"
#include "pages/c_tab_3.h"
#include "pages/c_tab_4.h"
#include "state/device_state.h"
#include "ui/bitmaps.h"
#include "ui/page_font.h"
#include "ui/tooltip_control.h"

namespace zorvane {

namespace {

using K = ControlKind;
using namespace qm_id;

constexpr int kWidth = 441;
constexpr int kHeight = 212;

// The read-only edits are the page's tab stops, in this order: 1029, 1030,
// 1033, 1036, 1103, 1127, 1126, 1128, 1129, 1131, 1132, 1133. The temperature
// edits come after the schematic so that they lie on top of it. Labels whose
// width the layout leaves open reach to the next control or separator.
constexpr ControlDef kTemplate129[] = {
    // Lamps, left column, labels at x 30, 2 below the lamp.
    {kMainsOn, K::Picture, nullptr, 10, 12, 15, 13},
    {kNoId, K::Label, "MAINS ON", 30, 14, 60, 8},
    {kExtGenOn, K::Picture, nullptr, 10, 32, 15, 13},
    {kNoId, K::Label, "EXT. GEN. ON ", 30, 34, 60, 8},
    {kBulk, K::Picture, nullptr, 10, 52, 15, 13},
    {kNoId, K::Label, "BULK", 30, 54, 60, 8},
    {kAbsorption, K::Picture, nullptr, 10, 72, 15, 13},
    {kNoId, K::Label, "ABSORPTION", 30, 74, 60, 8},
    {kFloat, K::Picture, nullptr, 10, 92, 15, 13},
    {kNoId, K::Label, "FLOAT", 30, 94, 60, 8},
    // Lamps, right column, labels at x 110.
    {kGenerationOn, K::Picture, nullptr, 90, 12, 15, 13},
    {kGenerationOnLabel, K::Label, "GENERATION ON", 110, 14, 58, 8},
    {kOverload, K::Picture, nullptr, 90, 32, 15, 13},
    {kNoId, K::Label, "OVERLOAD", 110, 34, 58, 8},
    {kBatteryLow, K::Picture, nullptr, 90, 52, 15, 13},
    {kNoId, K::Label, "BATTERY LOW", 110, 54, 58, 8},
    {kOverheat, K::Picture, nullptr, 90, 72, 15, 13},
    {kNoId, K::Label, "OVERHEAT", 110, 74, 58, 8},
    {kPowerOn, K::Picture, nullptr, 90, 92, 15, 13},
    {kNoId, K::Label, "POWER ON", 110, 94, 58, 8},
    // Measured values.
    {1028, K::Label, "Напряжение:", 174, 9, 76, 8},
    {kOutVoltage, K::ReadOnlyEdit, nullptr, 252, 7, 48, 12},
    {1031, K::Label, "Ток:", 174, 30, 76, 8},
    {kOutCurrent, K::ReadOnlyEdit, nullptr, 252, 28, 48, 12},
    {1032, K::Label, "Мощность:", 174, 52, 76, 8},
    {kOutPower, K::ReadOnlyEdit, nullptr, 252, 50, 48, 12},
    {1034, K::Label, "Напряжение батарей:", 174, 74, 76, 8},
    {kBatVoltage, K::ReadOnlyEdit, nullptr, 252, 72, 48, 12},
    {kNoId, K::Label, "Температура батарей:", 174, 96, 76, 8},
    {kBatTemperature, K::ReadOnlyEdit, nullptr, 252, 94, 48, 12},
    // Device temperatures over the schematic (bitmap 169, 200 x 160 pixels).
    {kNoId, K::Label, "Температура:", 348, 2, 88, 8},
    {kSchematic, K::Picture, nullptr, 303, 11, 133, 98},
    {kTempLeftUpperOuter, K::ReadOnlyEdit, nullptr, 307, 17, 38, 12,
     ctl::kAlignCenter | ctl::kBorderless},
    {kTempRightUpperOuter, K::ReadOnlyEdit, nullptr, 393, 17, 38, 12,
     ctl::kAlignCenter | ctl::kBorderless},
    {kTempLeftInner, K::ReadOnlyEdit, nullptr, 321, 42, 38, 12,
     ctl::kAlignCenter | ctl::kBorderless},
    {kTempRightInner, K::ReadOnlyEdit, nullptr, 380, 43, 38, 12,
     ctl::kAlignCenter | ctl::kBorderless},
    {kTempLeftTransformer, K::ReadOnlyEdit, nullptr, 309, 68, 38, 12,
     ctl::kAlignCenter | ctl::kBorderless},
    {kTempRightTransformer, K::ReadOnlyEdit, nullptr, 393, 68, 38, 12,
     ctl::kAlignCenter | ctl::kBorderless},
    {kTempCase, K::ReadOnlyEdit, nullptr, 350, 89, 38, 12, ctl::kAlignCenter | ctl::kBorderless},
    // Settings.
    {kSettingsTab, K::Tab, nullptr, 7, 114, 294, 94, ctl::kNoTabStop},
    // Three-phase and parallel mode: the upper unit beside "Ведущий", the
    // lower beside "Ведомый".
    {kNoId, K::Label, "3-х фазный режим:", 340, 114, 94, 8},
    {kNoId, K::Label, "Ведущий", 324, 129, 34, 8},
    {kNoId, K::Label, "Ведомый", 324, 149, 34, 8},
    {kNoId, K::Label, "Паралельный:", 347, 165, 87, 8},
    {kNoId, K::Label, "Ведущий", 324, 181, 34, 8},
    {kNoId, K::Label, "Ведомый", 324, 199, 34, 8},
    {kThreePhase, K::Picture, nullptr, 358, 130, 15, 13},
    {kParallel, K::Picture, nullptr, 358, 176, 15, 13},
    // Separators.
    {kNoId, K::EtchedVLine, nullptr, 170, 3, 1, 104},
    {kNoId, K::EtchedVLine, nullptr, 302, 3, 1, 104},
    {kNoId, K::EtchedVLine, nullptr, 302, 118, 1, 90},
    {kNoId, K::EtchedHLine, nullptr, 7, 112, 427, 1},
};

constexpr ToolDef kTools129[] = {
    {kTempLeftUpperOuter, "Температура левого верхнего внешнего радиатора"},
    {kTempRightUpperOuter, "Температура правого верхнего внешнего радиатора"},
    {kTempLeftInner, "Температура левого внутреннего радиатора"},
    {kTempRightInner, "Температура правого внутреннего радиатора"},
    {kTempLeftTransformer, "Температура левого трансформатора"},
    {kTempRightTransformer, "Температура правого трансформатора"},
    {kTempCase, "Температура внутри корпуса"},
};

constexpr const char* kSettingsCaptions[c_qm_dialog::kSettingsPages] = {
    "Инвертор", "ИБП", "Зарядное устр.", "Внеш. генератор"};

}  // namespace

c_qm_dialog::c_qm_dialog(QWidget* parent) : c_kx_qm(kQmPage, parent) {
    m_controls = build_dialog(this, kWidth, kHeight, kTemplate129);
    m_focus_order.set_order(m_controls, kTemplate129);
    set_bitmap(get<QLabel>(kSchematic), bmp::kQmSchematic);

    // The settings pages live inside the tab control, below its row of tabs;
    // the tab control shows the page of the current tab (the first at start)
    // and hides the others. Clicking a tab takes the focus, which commits the
    // field being edited, but Tab never lands on it.
    m_settings_tab = get<QTabWidget>(kSettingsTab);
    m_settings_tab->tabBar()->setFocusPolicy(Qt::ClickFocus);
    QWidget* pages[kSettingsPages] = {new c_tab_1(m_settings_tab), new c_tab_2(m_settings_tab),
                                      new c_tab_3(m_settings_tab), new c_tab_4(m_settings_tab)};
    for (int i = 0; i < kSettingsPages; ++i)
        m_settings_tab->insertTab(i, pages[i], QString::fromUtf8(kSettingsCaptions[i]));
    m_settings_tab->setCurrentIndex(0);

    fit_font_to_labels(this);

    m_tooltip = new TooltipControl(this);
    for (const ToolDef& tool : kTools129)
        m_tooltip->add_tool(control(tool.id), QString::fromUtf8(tool.text));
}

c_qm_dialog::~c_qm_dialog() {
    OnDestroy();
}

void c_qm_dialog::OnDestroy() {
    // The page goes with the main window, whichever way the program ends (a
    // lost link ends it without the close sequence): from here on the
    // settings are no longer shown, and a field left by the teardown writes
    // nothing.
    device_state.g_settings_shown.store(0);
    // A focused edit that is destroyed is told it lost the focus half-way
    // through its destruction; let it lose the focus while it is whole.
    if (QWidget* focus = QApplication::focusWidget(); focus && m_settings_tab->isAncestorOf(focus))
        focus->clearFocus();
    for (int i = m_settings_tab->count() - 1; i >= 0; --i) delete m_settings_tab->widget(i);
}

bool c_qm_dialog::focusNextPrevChild(bool next) {
    return m_focus_order.move(QApplication::focusWidget(), next);
}

}  // namespace zorvane
