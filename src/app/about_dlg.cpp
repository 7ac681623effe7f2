#include "app/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "state/version.h"
#include "ui/bitmaps.h"

namespace zorvane {

namespace {

using K = ControlKind;

constexpr ControlDef kTemplate100[] = {
    {about::kLogo, K::Picture, "", 0, 0, 175, 39},
    {about::kVersion, K::Label, "v " ZORVANE_VERSION, 140, 39, 24, 8},
    {about::kCredit, K::Label, "© " ZORVANE_BUILD_YEAR " Zorvane", 4, 52, 67, 8},
    // The tool has no web address to give: the line stays empty.
    {about::kAddress, K::Label, "", 4, 63, 94, 8},
    {about::kOk, K::DefaultButton, "ОК", 121, 57, 50, 14},
};

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("О программе..."));
    m_controls = build_dialog(this, about::kWidth, about::kHeight, kTemplate100);
    set_bitmap(m_controls.get<QLabel>(about::kLogo), bmp::kLogo);
    auto* ok = m_controls.get<QPushButton>(about::kOk);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}

}  // namespace zorvane
