// Settings page "ИБП" of the QM page (template 152): the input-voltage
// thresholds of the transfer from mains to batteries and back.
#pragma once

#include "pages/c_settings_tab.h"

namespace zorvane {

namespace tab2_id {
inline constexpr int kUrmsLowL = 1095;
inline constexpr int kUrmsLowH = 1096;
inline constexpr int kUrmsHighH = 1097;
inline constexpr int kUrmsHighL = 1098;
inline constexpr int kVoltageHeading = 1136;  // Enter/Esc focus target
}  // namespace tab2_id

class c_tab_2 : public c_settings_tab {
    Q_OBJECT
  public:
    explicit c_tab_2(QWidget* parent = nullptr);
};

}  // namespace zorvane
