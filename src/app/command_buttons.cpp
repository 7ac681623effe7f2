// The command buttons of the main window.
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app/about_dlg.h"
#include "app/app_texts.h"
#include "app/file_names.h"
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
#include "link/wire_tap.h"
#include "record/wire_trace.h"
#include "state/device_state.h"
#include "state/models.h"
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
    // Switching off drops the load behind the unit (servers behind a UPS):
    // one click next to "Ресурс" must not do it. Switching on asks nothing.
    if (generating) {
        const auto tab = m_tab->item(m_tab->current());
        if (!tab)
            return;
        const QString question =
            QString::fromUtf8(text::kGenerationOffQuestion)
                .arg(QString::fromUtf8(model_profile(tab->model).name),
                     QString::fromStdString(tab->serial), QString::number(tab->port));
        if (!confirm_box(this, text::kGenerationOffCaption, question))
            return;
    }
    // The caption changes at once (before the wait for the worker), offering
    // the opposite of what is being asked for; the next tick corrects it
    // from the device's status.
    set_generation_caption(*m_gen_button, !generating);
    m_gen_button->repaint();
    send_action(serial_port(), device_state, generating ? cmd::kGenerationOff : cmd::kGenerationOn);
}

void CKorvellDlg::OnCounters() {
    try {
        // Which unit the counters are of: the tab's caption in the title.
        const QString unit = m_tab->caption(m_tab->current());
        const auto titled = [&unit](QDialog& window) {
            if (!unit.isEmpty())
                window.setWindowTitle(QStringLiteral("%1 — %2").arg(window.windowTitle(), unit));
            window.exec();
        };
        if (device_state.g_device_kind.load() == 1) {
            c_dlg_srch window(this);
            titled(window);
        } else {
            res_dialog window(this);
            titled(window);
        }
    } catch (...) {
        message_box(this, QMessageBox::Critical, text::kAppName,
                    QString::fromUtf8(text::kProgramTrouble));
        PostQuit();
    }
}

namespace {

// One viewer per window, brought forward when asked for again.
void show_help_viewer(QWidget* owner, const QString& path) {
    auto* viewer = owner->findChild<QDialog*>(QStringLiteral("help_viewer"));
    if (viewer == nullptr) {
        viewer = new QDialog(owner, Qt::Window);
        viewer->setObjectName(QStringLiteral("help_viewer"));
        viewer->setWindowTitle(QString::fromUtf8(text::kHelpCaption));
        auto* browser = new QTextBrowser(viewer);
        browser->setOpenExternalLinks(true);
        auto* layout = new QVBoxLayout(viewer);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(browser);
        viewer->resize(760, 600);
    }
    viewer->findChild<QTextBrowser*>()->setSource(QUrl::fromLocalFile(path));
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

}  // namespace

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
    // A desktop without an HTML viewer (a bare service laptop, a kiosk) gets
    // the document in a viewer of our own: it is plain HTML.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        show_help_viewer(this, path);
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
    auto dialog =
        make_settings_file_dialog(SettingsFileAction::Open, tab->family, tab->model, tab->serial);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    const QString path = dialog->selectedFiles().constFirst();
    remember_dialog_folder(path);

    ParsedSettingsFile file;
    if (const FileOutcome read = read_settings_file(QFile::encodeName(path).toStdString(), file);
        !read.ok()) {
        message_box(this, QMessageBox::Warning, text::kSettingsCaption,
                    QString::fromUtf8(text::kSettingsNotRead)
                        .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(read.error)));
        return;
    }
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
    auto dialog =
        make_settings_file_dialog(SettingsFileAction::Save, tab->family, tab->model, tab->serial);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    const QString path = dialog->selectedFiles().constFirst();
    remember_dialog_folder(path);

    SettingsReading reading;
    if (const QString failure = read_settings_of(tab->family, reading); !failure.isEmpty()) {
        message_box(this, QMessageBox::Warning, text::kSettingsCaption,
                    failure + QStringLiteral(" ") + QString::fromUtf8(text::kSettingsNotSaved));
        return;
    }
    const SettingsHeader header{model_profile(tab->model).name, tab->serial, utc_timestamp_now(),
                                settings_tool_label()};
    if (const FileOutcome written =
            write_file_atomically(QFile::encodeName(path).toStdString(),
                                  format_settings_file(header, tab->family, reading.wire));
        !written.ok()) {
        message_box(
            this, QMessageBox::Warning, text::kSettingsCaption,
            QString::fromUtf8(text::kSettingsWriteFailed)
                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(written.error)));
        return;
    }
    message_box(this, QMessageBox::Information, text::kSettingsCaption,
                QString::fromUtf8(text::kSettingsSaved).arg(QDir::toNativeSeparators(path)));
}

void CKorvellDlg::OnTrends() {
    if (m_trend_window == nullptr) {
        m_trend_window = new TrendWindow(*m_trend_feed, this);
        if (const auto tab = m_tab->item(m_tab->current())) {
            m_trend_window->set_file_unit(tab->model, tab->serial);
            m_trend_window->show_device(tab->port, kind_of(tab->family),
                                        m_tab->caption(m_tab->current()));
        }
    }
    m_trend_window->show();
    m_trend_window->raise();
    m_trend_window->activateWindow();
    m_trend_window->redraw();
}

void CKorvellDlg::OnTrace() {
    if (tracing()) {
        StopTrace();
        return;
    }
    // A trace file is continued, never overwritten: no overwrite question.
    const QString path = QFileDialog::getSaveFileName(this, tr("Запись обмена"), QString(),
                                                      tr("Записи обмена (*.trace);;Все файлы (*)"),
                                                      nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) {
        button(main_window::kTraceButton)->setChecked(false);
        return;
    }
    const bool anonymize =
        QMessageBox::question(this, tr("Запись обмена"),
                              tr("Заменить серийные номера устройств в записи?\n"
                                 "Так запись можно передать, не называя устройства."),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) == QMessageBox::Yes;
    QString error;
    if (!StartTrace(path, anonymize, &error))
        QMessageBox::warning(this, tr("Запись обмена"),
                             tr("Запись обмена не начата:\n%1").arg(error));
}

bool CKorvellDlg::StartTrace(const QString& path, bool anonymize, QString* error) {
    StopTrace();
    std::string why;
    m_trace = TraceFile::open(path.toStdString(), anonymize, why);
    QPushButton* control = button(main_window::kTraceButton);
    if (!m_trace) {
        control->setChecked(false);
        if (error != nullptr)
            *error = QString::fromStdString(why);
        return false;
    }
    set_wire_listener(m_trace);
    control->setChecked(true);
    control->setToolTip(tr("Идёт запись обмена в файл %1. Нажмите, чтобы остановить").arg(path));
    return true;
}

void CKorvellDlg::StopTrace() {
    if (m_trace) {
        set_wire_listener(nullptr);
        m_trace.reset();
    }
    QPushButton* control = button(main_window::kTraceButton);
    control->setChecked(false);
    control->setToolTip(
        tr("Записать в файл обмен с устройствами, кадр за кадром (для службы поддержки)"));
}

}  // namespace zorvane
