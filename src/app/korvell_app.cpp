#include "app/korvell_app.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

#include "app/app_texts.h"
#include "app/korvell_dlg.h"
#include "state/version.h"
#include "ui/bitmaps.h"

namespace zorvane {

void CKorvellApp::prepare(QApplication& app) {
    app.setApplicationName(QString::fromUtf8(text::kAppName));
    app.setApplicationVersion(QString::fromUtf8(kToolVersion));
    // Dialog units are those of an 8-point font; DejaVu Sans carries the
    // Cyrillic letters on every Linux desktop.
    app.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    app.setWindowIcon(QIcon(bitmap(174)));
}

bool CKorvellApp::InitInstance() {
    CKorvellDlg dialog;
    dialog.DoModal();
    return false;
}

}  // namespace zorvane
