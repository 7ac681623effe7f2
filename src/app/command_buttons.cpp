// The command buttons of the main window.
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QUrl>

#include "app/about_dlg.h"
#include "app/app_texts.h"
#include "app/korvell_dlg.h"
#include "app/settings_file_dialog.h"
#include "app/trend_window.h"
#include "counters/c_dlg_srch.h"
#include "counters/res_dialog.h"
#include "device/setting_write.h"
#include "link/frame.h"
#include "state/device_state.h"
#include "ui/display_format.h"

namespace zorvane {

void CKorvellDlg::OnGeneration() {
    // Either family's bit counts: the button serves both pages.
    const bool generating =
        device_state.kx_status1[2].load() != 0 || device_state.qm_status1[2].load() != 0;
    // The caption changes at once (before the wait for the worker), offering
    // the opposite of what is being asked for; the next tick corrects it
    // from the device's status.
    set_generation_caption(*m_gen_button, !generating);
    m_gen_button->repaint();
    send_action(serial_port(), device_state, generating ? cmd::kGenerationOff : cmd::kGenerationOn);
}

void CKorvellDlg::OnCounters() {
    try {
        if (device_state.g_device_kind.load() == 1) {
            c_dlg_srch window(this);
            window.exec();
        } else {
            res_dialog window(this);
            window.exec();
        }
    } catch (...) {
        message_box(this, QMessageBox::Critical, text::kAppName,
                    QString::fromUtf8(text::kProgramTrouble));
        PostQuit();
    }
}

void CKorvellDlg::OnHelpButton() {
    // The help document ships next to the program (a build) or in the
    // program's data folder (an installation), whatever the current
    // directory is.
    const QDir program_dir(QCoreApplication::applicationDirPath());
    const QString file = QString::fromUtf8(text::kHelpFile);
    QString path = program_dir.filePath(file);
    if (const QString installed = program_dir.filePath(QStringLiteral("../share/zorvane/") + file);
        !QFileInfo::exists(path) && QFileInfo::exists(installed))
        path = QDir::cleanPath(installed);
    if (!QFileInfo::exists(path)) {
        message_box(this, QMessageBox::Warning, text::kHelpCaption,
                    QString::fromUtf8(text::kHelpMissing).arg(QDir::toNativeSeparators(path)));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        message_box(this, QMessageBox::Warning, text::kHelpCaption,
                    QString::fromUtf8(text::kHelpNoViewer).arg(QDir::toNativeSeparators(path)));
    }
}

void CKorvellDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

namespace {
// Both device pages always exist, so the QM variant is the one shown.
int settings_file_family(const c_qm_dialog* qm_page) {
    return qm_page != nullptr ? 2 : 1;
}
}  // namespace

void CKorvellDlg::OnOpenSettingsFile() {
    // Nothing is read, whatever is chosen.
    auto dialog =
        make_settings_file_dialog(SettingsFileAction::Open, settings_file_family(m_qm_page));
    dialog->exec();
}

void CKorvellDlg::OnSaveSettingsFile() {
    // Nothing is written, whatever is chosen.
    auto dialog =
        make_settings_file_dialog(SettingsFileAction::Save, settings_file_family(m_qm_page));
    dialog->exec();
}

void CKorvellDlg::OnTrends() {
    if (m_trend_window == nullptr) {
        m_trend_window = new TrendWindow(*m_trend_feed, this);
        if (const auto tab = m_tab->item(m_tab->current()))
            m_trend_window->show_device(tab->port, kind_of(tab->family),
                                        m_tab->caption(m_tab->current()));
    }
    m_trend_window->show();
    m_trend_window->raise();
    m_trend_window->activateWindow();
    m_trend_window->redraw();
}

}  // namespace zorvane
