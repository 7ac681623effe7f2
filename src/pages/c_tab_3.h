// Settings page "Зарядное устр." of the QM page (template 153): the charger's
// stage durations, charge current and absorption settings.
#pragma once

#include "pages/c_settings_tab.h"

namespace zorvane {

namespace tab3_id {
inline constexpr int kFloatTime = 1099;
inline constexpr int kRFloatTime = 1100;  // days on screen, minutes on the wire
inline constexpr int kRAbsTime = 1101;
inline constexpr int kIchrgNom = 1102;
inline constexpr int kAbsEndFactor = 1084;
inline constexpr int kAbsTime = 1086;
inline constexpr int kFloatTimeLabel = 1137;  // Enter/Esc focus target
}  // namespace tab3_id

class c_tab_3 : public c_settings_tab {
    Q_OBJECT
  public:
    explicit c_tab_3(QWidget* parent = nullptr);
};

}  // namespace zorvane
