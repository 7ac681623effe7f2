// Settings page "Инвертор" of the QM page (template 151): the battery
// thresholds, the maximum power and the nominal output voltage.
#pragma once

#include "pages/c_settings_tab.h"

namespace zorvane {

namespace tab1_id {
inline constexpr int kUbatLow = 1090;
inline constexpr int kUbatMin = 1091;
inline constexpr int kUbatMinOn = 1092;
inline constexpr int kPmax = 1093;
inline constexpr int kUrmsNom = 1094;
inline constexpr int kUbatLowLabel = 1135;  // Enter/Esc focus target
}  // namespace tab1_id

class c_tab_1 : public c_settings_tab {
    Q_OBJECT
  public:
    explicit c_tab_1(QWidget* parent = nullptr);
};

}  // namespace zorvane
