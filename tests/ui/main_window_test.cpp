// The main window without a worker: its template, the page-creation failure,
// the About box, the settings-file dialogs and the help button.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <stdexcept>

#include "app/about_dlg.h"
#include "app/app_texts.h"
#include "app/file_names.h"
#include "app/korvell_dlg.h"
#include "app/settings_file_dialog.h"
#include "ui_fixture.h"

namespace zorvane {
namespace {

using MainWindow = testing::UiFixture;
using HelpButton = testing::UiFixture;

class PagesFailDlg : public CKorvellDlg {
  public:
    int quits = 0;

  protected:
    void CreatePages() override { throw std::runtime_error("no window"); }
    void PostQuit() override { ++quits; }
};

TEST_F(MainWindow, PageCreationFailureEndsTheProgramWithoutSearching) {
    PagesFailDlg dlg;
    EXPECT_EQ(dlg.DoModal(), -1);
    ASSERT_EQ(m_boxes.seen().size(), 1u);  // no search announcement
    EXPECT_EQ(m_boxes.seen()[0].text, text::kPagesFailed);
    EXPECT_EQ(dlg.quits, 1);
    EXPECT_FALSE(dlg.worker_running());
    EXPECT_FALSE(dlg.timer().isActive());
    EXPECT_EQ(device_state.g_main_thread_id.load(), 0u);
}

TEST(AboutBox, LogoVersionAndOk) {
    CAboutDlg about(nullptr);
    EXPECT_EQ(about.windowTitle(), QStringLiteral("О программе..."));
    auto* version = qobject_cast<QLabel*>(about.control(about::kVersion));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("v 0.9.1"));
    EXPECT_EQ(about.control(about::kLogo)->property("bitmap_id").toInt(), 166);
    // The year of the build, and no made-up web address.
    const QString credit = qobject_cast<QLabel*>(about.control(about::kCredit))->text();
    EXPECT_TRUE(credit.contains(QStringLiteral(ZORVANE_BUILD_YEAR))) << credit.toStdString();
    EXPECT_FALSE(credit.contains(QStringLiteral("2024")));
    EXPECT_TRUE(qobject_cast<QLabel*>(about.control(about::kAddress))->text().isEmpty());
    auto* ok = qobject_cast<QPushButton*>(about.control(about::kOk));
    EXPECT_EQ(ok->text(), QStringLiteral("ОК"));

    // OK and Esc both close it.
    QTimer::singleShot(0, ok, &QPushButton::click);
    EXPECT_EQ(about.exec(), QDialog::Accepted);
    QTimer::singleShot(0, &about, [&] { QTest::keyClick(&about, Qt::Key_Escape); });
    EXPECT_EQ(about.exec(), QDialog::Rejected);
}

// Stands in for the desktop: records what it was asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

TEST_F(HelpButton, OpensTheDocumentNextToTheProgramOrSaysWhyNot) {
    UrlRecorder desktop;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
    const QString help = QDir(QCoreApplication::applicationDirPath()).filePath("help.html");
    QFile::remove(help);
    {
        CKorvellDlg dlg;
        dlg.OnHelpButton();
        ASSERT_EQ(m_boxes.seen().size(), 1u);
        EXPECT_NE(m_boxes.seen()[0].text.find("help.html"), std::string::npos);
        EXPECT_TRUE(desktop.opened.isEmpty());
    }
    {
        QFile file(help);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<html></html>");
    }
    {
        CKorvellDlg dlg;
        dlg.OnHelpButton();
        EXPECT_EQ(m_boxes.seen().size(), 1u);  // no second box
        ASSERT_EQ(desktop.opened.size(), 1);
        EXPECT_EQ(desktop.opened[0], QUrl::fromLocalFile(help));
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    {
        // A desktop that cannot open it (the test platform has no viewer):
        // the program's own viewer shows it, and no box.
        CKorvellDlg dlg;
        dlg.OnHelpButton();
        EXPECT_EQ(m_boxes.seen().size(), 1u);
        auto* viewer = dlg.findChild<QDialog*>(QStringLiteral("help_viewer"));
        ASSERT_NE(viewer, nullptr);
        EXPECT_TRUE(viewer->isVisible());
        EXPECT_EQ(viewer->findChild<QTextBrowser*>()->source(), QUrl::fromLocalFile(help));
        dlg.OnHelpButton();  // asked again: the same viewer
        EXPECT_EQ(dlg.findChildren<QDialog*>(QStringLiteral("help_viewer")).size(), 1);
    }
    QFile::remove(help);
}

// The settings-file dialogs open in the folder used last, at first the
// documents folder, and saving offers MODEL_SERIAL_DATE.kxf|qmf.
TEST(SettingsFileDialogs, OpenInTheLastFolderAndOfferTheUnitsName) {
    EXPECT_EQ(
        suggested_file_name(DeviceModel::KX24, "12345", QStringLiteral("kxf"), QDate(2026, 12, 11)),
        QStringLiteral("KX-24_12345_2026-12-11.kxf"));
    // Nothing a file name cannot hold.
    EXPECT_EQ(
        suggested_file_name(DeviceModel::QM48, "A/7 :2", QStringLiteral("qmf"), QDate(2026, 1, 2)),
        QStringLiteral("QM-48_A-7--2_2026-01-02.qmf"));

    const QString documents = dialog_folder();
    EXPECT_TRUE(QFileInfo(documents).isDir());
    auto save =
        make_settings_file_dialog(SettingsFileAction::Save, Family::Qm, DeviceModel::QM48, "Q1");
    EXPECT_EQ(save->directory().absolutePath(), QDir(documents).absolutePath());
    ASSERT_FALSE(save->selectedFiles().isEmpty());
    EXPECT_EQ(QFileInfo(save->selectedFiles()[0]).fileName(),
              suggested_file_name(DeviceModel::QM48, "Q1", QStringLiteral("qmf")));

    QTemporaryDir used;
    remember_dialog_folder(QDir(used.path()).filePath(QStringLiteral("chosen.kxf")));
    auto open = make_settings_file_dialog(SettingsFileAction::Open, Family::Kx);
    EXPECT_EQ(open->directory().absolutePath(), QDir(used.path()).absolutePath());
}

}  // namespace
}  // namespace zorvane

#include "main_window_test.moc"
