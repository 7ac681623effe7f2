// The KX device page (template 130): live readings, lamps, the temperature
// schematic, the three-phase and parallel pictures and the five settings of
// a KX device, each written when its field loses the focus.
#pragma once

#include <QString>
#include <array>

#include "pages/c_kx_qm.h"
#include "ui/dialog_template.h"

class QLabel;
class QLineEdit;

namespace zorvane {

namespace kx {
// Read-only values.
inline constexpr int kOutVoltage = 1020;
inline constexpr int kOutCurrent = 1022;
inline constexpr int kOutPower = 1023;
inline constexpr int kBatVoltage = 1024;
inline constexpr int kTempLeftUpperOuter = 1045;
inline constexpr int kTempRightUpperOuter = 1046;
inline constexpr int kTempRightTransformer = 1047;
inline constexpr int kTempRightLowerOuter = 1048;
inline constexpr int kTempLeftTransformer = 1049;
inline constexpr int kTempLeftLowerOuter = 1050;
inline constexpr int kTempCase = 1051;
inline constexpr int kTempRightInner = 1052;
inline constexpr int kTempLeftInner = 1053;
// Settings.
inline constexpr int kUoutNom = 1037;
inline constexpr int kUbatLow = 1039;
inline constexpr int kPmax = 1040;
inline constexpr int kUbatMinOn = 1041;
inline constexpr int kUbatMin = 1042;
// Pictures.
inline constexpr int kLampGeneration = 1057;
inline constexpr int kLampOverload = 1058;
inline constexpr int kLampBatteryLow = 1059;
inline constexpr int kLampOverheat = 1060;
inline constexpr int kLampPowerOn = 1061;
inline constexpr int kSchematic = 1063;
inline constexpr int kThreePhasePicture = 1064;
inline constexpr int kParallelPicture = 1002;
}  // namespace kx

inline constexpr int kKxPageWidth = 441;  // dialog units
inline constexpr int kKxPageHeight = 212;

class c_kx_dialog : public c_kx_qm {
    Q_OBJECT
  public:
    explicit c_kx_dialog(QWidget* parent);
    ~c_kx_dialog() override;

    // The ids of the thirteen read-only texts, in the order of m_texts.
    static constexpr std::array<int, 13> kTextIds = {kx::kOutVoltage,
                                                     kx::kOutCurrent,
                                                     kx::kOutPower,
                                                     kx::kBatVoltage,
                                                     kx::kTempRightLowerOuter,
                                                     kx::kTempRightUpperOuter,
                                                     kx::kTempRightInner,
                                                     kx::kTempRightTransformer,
                                                     kx::kTempLeftUpperOuter,
                                                     kx::kTempLeftTransformer,
                                                     kx::kTempLeftInner,
                                                     kx::kTempLeftLowerOuter,
                                                     kx::kTempCase};

    // The texts the display step formats; UpdateData puts them in the fields.
    std::array<QString, 13> m_texts;
    void UpdateData();

    QLineEdit* edit(int id) const;
    QLabel* picture(int id) const;
    QWidget* control(int id) const { return m_controls.widget(id); }

  private:
    void OnInitDialog();
    void OnDestroy();

    DialogControls m_controls;
};

}  // namespace zorvane
