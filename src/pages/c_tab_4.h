// Settings page "Внеш. генератор" of the QM page (template 154): the control
// of an external generator, its start mode and delay, its power and its
// training runs.
#pragma once

#include <cstdint>

#include "pages/c_settings_tab.h"

namespace zorvane {

namespace tab4_id {
inline constexpr int kEGenType = 1126;
inline constexpr int kEGenUbat = 1088;    // combo box: start mode 0 or 1
inline constexpr int kEGenOnTime = 1082;  // read-only while start mode is not 0
inline constexpr int kEGenPmax = 1080;
inline constexpr int kEGenSleep = 1081;
inline constexpr int kEGenWork = 1083;
inline constexpr int kTraining = 1089;       // check box: training runs on or off
inline constexpr int kEGenTypeLabel = 1138;  // Enter/Esc focus target
}  // namespace tab4_id

struct SettingDecision;

class c_tab_4 : public c_settings_tab {
    Q_OBJECT
  public:
    // Shown in EGenOnTime when start mode 1 makes the delay meaningless.
    static constexpr const char* kZeroTimeText = "0 сек.";

    explicit c_tab_4(QWidget* parent = nullptr);

  private:
    // Technician's choices only: selections and check marks that the display
    // sets send nothing.
    void OnEGenUbatSelChange(int index);
    void OnTrainingClicked(bool checked);
    // A refused fixed write says why, once the click has been handled.
    void tell_refusal(const SettingDecision& decision);
};

}  // namespace zorvane
