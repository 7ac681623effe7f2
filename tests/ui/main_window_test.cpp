// The main window without a worker: its template, the page-creation failure,
// the About box, the settings-file dialogs and the help button.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "app/about_dlg.h"
#include "app/app_texts.h"
#include "app/korvell_dlg.h"
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
    EXPECT_FALSE(qobject_cast<QLabel*>(about.control(about::kCredit))->text().isEmpty());
    EXPECT_FALSE(qobject_cast<QLabel*>(about.control(about::kAddress))->text().isEmpty());
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
    QFile::remove(help);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

}  // namespace
}  // namespace zorvane

#include "main_window_test.moc"
