// The QM device page (template 129): ten lamps, the measured values, the
// battery and device temperatures over the device schematic, the mode
// pictures, and an inner tab control with the four settings pages.
#pragma once

#include "pages/c_kx_qm.h"
#include "ui/dialog_template.h"
#include "ui/template_focus.h"

class QTabWidget;

namespace zorvane {

class TooltipControl;

namespace qm_id {
// Measured values.
inline constexpr int kOutVoltage = 1029;
inline constexpr int kOutCurrent = 1030;
inline constexpr int kOutPower = 1033;
inline constexpr int kBatVoltage = 1036;
inline constexpr int kBatTemperature = 1103;
// Lamps.
inline constexpr int kMainsOn = 1079;
inline constexpr int kExtGenOn = 1078;
inline constexpr int kBulk = 1077;
inline constexpr int kAbsorption = 1076;
inline constexpr int kFloat = 1075;
inline constexpr int kGenerationOn = 1074;
inline constexpr int kOverload = 1073;
inline constexpr int kBatteryLow = 1072;
inline constexpr int kOverheat = 1071;
inline constexpr int kPowerOn = 1070;
inline constexpr int kGenerationOnLabel = 1069;
// Mode pictures.
inline constexpr int kThreePhase = 1067;
inline constexpr int kParallel = 1068;
// Temperatures over the schematic.
inline constexpr int kSchematic = 1002;
inline constexpr int kTempLeftUpperOuter = 1127;
inline constexpr int kTempRightUpperOuter = 1126;
inline constexpr int kTempLeftInner = 1128;
inline constexpr int kTempRightInner = 1129;
inline constexpr int kTempLeftTransformer = 1131;
inline constexpr int kTempRightTransformer = 1132;
inline constexpr int kTempCase = 1133;
// Inner tab control of the settings pages.
inline constexpr int kSettingsTab = 1004;
}  // namespace qm_id

class c_qm_dialog : public c_kx_qm {
    Q_OBJECT
  public:
    static constexpr int kSettingsPages = 4;

    explicit c_qm_dialog(QWidget* parent);
    ~c_qm_dialog() override;

    QWidget* control(int id) const { return m_controls.widget(id); }
    template <typename T>
    T* get(int id) const {
        return m_controls.get<T>(id);
    }
    // Item i carries settings page i ("Инвертор", "ИБП", "Зарядное устр.",
    // "Внеш. генератор").
    QTabWidget* settings_tab() const { return m_settings_tab; }
    const TooltipControl& tooltip() const { return *m_tooltip; }

  protected:
    bool focusNextPrevChild(bool next) override;

  private:
    // Frees the settings pages, the last tab first.
    void OnDestroy();

    DialogControls m_controls;
    TemplateFocus m_focus_order;
    QTabWidget* m_settings_tab = nullptr;
    TooltipControl* m_tooltip = nullptr;
};

}  // namespace zorvane
