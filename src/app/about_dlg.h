// The About box (template 100): the logo, the version, a credit line and an
// address; OK or Esc closes it.
#pragma once

#include <QDialog>

#include "ui/dialog_template.h"

namespace zorvane {

namespace about {
// The template names only the OK button; the other ids are ours, so that a
// test can find the controls.
inline constexpr int kOk = 1;
inline constexpr int kLogo = 1101;
inline constexpr int kVersion = 1102;
inline constexpr int kCredit = 1103;
inline constexpr int kAddress = 1104;
inline constexpr int kWidth = 175;  // dialog units
inline constexpr int kHeight = 76;
}  // namespace about

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent);
    QWidget* control(int id) const { return m_controls.widget(id); }

  private:
    DialogControls m_controls;
};

}  // namespace zorvane
