// The command buttons of the main window.
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QUrl>

#include "app/about_dlg.h"
#include "app/app_texts.h"
#include "app/korvell_dlg.h"
#include "app/settings_file_dialog.h"
#include "app/settings_preview.h"
#include "app/trend_window.h"
#include "counters/c_dlg_srch.h"
#include "counters/res_dialog.h"
#include "device/setting_write.h"
#include "device/settings_file.h"
#include "device/settings_transfer.h"
#include "link/frame.h"
#include "state/device_state.h"
#include "ui/display_format.h"

namespace zorvane {

void CKorvellDlg::OnGeneration() {
    // A unit whose model is not established gets no command; the caption
    // stays as the device's status has it.
    if (model_unsure(device_state)) {
        message_box(this, QMessageBox::Warning, text::kAppName,
                    QString::fromUtf8(kModelUnsureText));
        return;
    }
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

QString problems_text(const std::vector<FileProblem>& problems) {
    // A file that is not a settings file at all would fill the screen.
    constexpr size_t kShown = 12;
    QStringList lines;
    for (size_t i = 0; i < problems.size() && i < kShown; ++i)
        lines << QString::fromStdString(describe_problem(problems[i], true));
    if (problems.size() > kShown)
        lines << QStringLiteral("… и ещё %1").arg(problems.size() - kShown);
    return lines.join(QLatin1Char('\n'));
}

// Every setting of the family into `reading`; what went wrong, or nothing.
QString read_settings_of(Family family, SettingsReading& reading) {
    // A device already known to be silent would hold the window for the
    // retries of a read that cannot succeed.
    if (device_state.g_device_answering.load() == 0)
        return QString::fromUtf8(text::kSettingsNotAnswering);
    // Reading holds the port for a moment: the window shows it is busy.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    reading = read_all_settings(serial_port(), device_state, family);
    QApplication::restoreOverrideCursor();
    if (!reading.port_opened)
        return QString::fromUtf8(text::kSettingsPortClosed).arg(device_state.g_com_port.load());
    if (!reading.complete())
        return QString::fromUtf8(text::kSettingsUnread).arg(QString::fromStdString(reading.unread));
    return {};
}

}  // namespace

void CKorvellDlg::OnOpenSettingsFile() {
    const auto tab = m_tab->item(m_tab->current());
    if (!tab)
        return;
    auto dialog = make_settings_file_dialog(SettingsFileAction::Open, tab->family);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    const QString path = dialog->selectedFiles().constFirst();

    std::string content;
    std::string error;
    if (!read_settings_text(QFile::encodeName(path).toStdString(), content, error)) {
        message_box(this, QMessageBox::Warning, text::kSettingsCaption,
                    QString::fromUtf8(text::kSettingsNotRead)
                        .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(error)));
        return;
    }
    const ParsedSettingsFile file = parse_settings_file(content);
    const bool unsure = model_unsure(device_state);
    std::vector<FileProblem> problems = file.problems;
    // What no confirmation overrides is told before the device is read.
    if (problems.empty())
        problems = check_file_for_device(file, tab->model, {}, unsure, true);
    if (!problems.empty()) {
        message_box(this, QMessageBox::Warning, text::kSettingsCaption,
                    QString::fromUtf8(text::kSettingsRefused) + QStringLiteral("\n\n") +
                        problems_text(problems));
        return;
    }

    SettingsReading reading;
    if (const QString failure = read_settings_of(tab->family, reading); !failure.isEmpty()) {
        message_box(
            this, QMessageBox::Warning, text::kSettingsCaption,
            failure + QStringLiteral(" ") + QString::fromUtf8(text::kSettingsNothingWritten));
        return;
    }
    // The class is judged with the battery thresholds just read; a file of
    // the other class, a unit whose class is not established, a value beyond
    // what the class survives or a pair it would invert go on only by an
    // explicit choice, No being the default.
    problems =
        check_file_for_device(file, tab->model, judge_voltage_class(device_state), unsure, false);
    for (FileProblem& inverted :
         order_problems(file, diff_settings(file, tab->family, reading.wire), false))
        problems.push_back(std::move(inverted));
    if (!problems.empty()) {
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(text::kSettingsCaption),
                        problems_text(problems) + QStringLiteral("\n\n") +
                            QString::fromUtf8(text::kSettingsOtherVoltage),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes)
            return;
    }
    QString source =
        QString::fromUtf8(text::kSettingsSource)
            .arg(QDir::toNativeSeparators(path), QString::fromStdString(file.header.model),
                 QString::fromStdString(file.header.serial),
                 QString::fromStdString(file.header.saved), m_tab->caption(m_tab->current()));
    if (!file.header.serial.empty() && file.header.serial != tab->serial)
        source += QStringLiteral("\n") + QString::fromUtf8(text::kSettingsOtherSerial);
    SettingsPreviewDialog preview(source, diff_settings(file, tab->family, reading.wire), this);
    m_preview = &preview;
    const bool confirmed = preview.exec() == QDialog::Accepted && preview.changed_count() > 0;
    m_preview = nullptr;
    if (!confirmed)
        return;

    const std::vector<SettingDiff> rows = diff_settings(file, tab->family, reading.wire);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ApplyResult result = apply_settings(serial_port(), device_state, tab->family, rows);
    QApplication::restoreOverrideCursor();
    message_box(this, result.all_confirmed() ? QMessageBox::Information : QMessageBox::Warning,
                text::kSettingsCaption, settings_apply_report(result));
}

void CKorvellDlg::OnSaveSettingsFile() {
    const auto tab = m_tab->item(m_tab->current());
    if (!tab)
        return;
    auto dialog = make_settings_file_dialog(SettingsFileAction::Save, tab->family);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    const QString path = dialog->selectedFiles().constFirst();

    SettingsReading reading;
    if (const QString failure = read_settings_of(tab->family, reading); !failure.isEmpty()) {
        message_box(this, QMessageBox::Warning, text::kSettingsCaption,
                    failure + QStringLiteral(" ") + QString::fromUtf8(text::kSettingsNotSaved));
        return;
    }
    const SettingsHeader header{model_profile(tab->model).name, tab->serial, utc_timestamp_now(),
                                settings_tool_label()};
    std::string error;
    if (!write_file_atomically(QFile::encodeName(path).toStdString(),
                               format_settings_file(header, tab->family, reading.wire), error)) {
        message_box(this, QMessageBox::Warning, text::kSettingsCaption,
                    QString::fromUtf8(text::kSettingsWriteFailed)
                        .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(error)));
        return;
    }
    message_box(this, QMessageBox::Information, text::kSettingsCaption,
                QString::fromUtf8(text::kSettingsSaved).arg(QDir::toNativeSeparators(path)));
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
