// The settings-file buttons of the main window on simulated devices, with the
// worker polling: save, the preview of a file against the device, the load
// writing only the changed settings, cancel writing nothing, and the dialogs
// of the selected device's family.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/korvell_dlg.h"
#include "app/settings_preview.h"
#include "device/settings_file.h"
#include "link/frame.h"
#include "ui_fixture.h"

namespace zorvane {
namespace {

namespace fs = std::filesystem;

// Answers every window the buttons open, as a technician would: the file
// dialog gets `file`, the preview is confirmed or cancelled, a box without
// OK gets No.
struct Technician {
    std::string file;
    bool confirm = true;
    QStringList file_dialog_titles;
    QStringList box_texts;
    int previews = 0;
    int preview_changed = 0;

    bool answer(QDialog& modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(&modal)) {
            file_dialog_titles << dialog->windowTitle();
            if (file.empty()) {
                dialog->reject();
            } else {
                dialog->selectFile(QString::fromStdString(file));
                static_cast<QDialog*>(dialog)->accept();  // as the Open or Save button
            }
        } else if (auto* preview = qobject_cast<SettingsPreviewDialog*>(&modal)) {
            ++previews;
            preview_changed = preview->changed_count();
            testing::screenshot(*preview, QStringLiteral("settings-preview-%1.png").arg(previews));
            confirm ? preview->write_button()->click() : preview->reject();
        } else if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
            box_texts << box->text();
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
        }
        return true;
    }
};

int write_frames(sim::SimulatedPort* port) {
    int n = 0;
    for (const auto& frame : port->received()) n += frame.size() > 3;
    return n;
}

uint8_t read_code(const FileSetting& setting) {
    return setting.variable->read_code;
}

using SettingsWindow = testing::UiFixture;

TEST_F(SettingsWindow, SavePreviewAndLoadTheSelectedDevice) {
    sim::SimulatedPort* qm = add_device(3, DeviceModel::QM48, "00042");
    sim::SimulatedPort* kx = add_device(5, DeviceModel::KX24, "00007");
    ASSERT_NE(qm, nullptr);
    ASSERT_NE(kx, nullptr);
    const fs::path dir =
        fs::temp_directory_path() / ("zorvane-window-" + std::to_string(::getpid()));
    fs::create_directories(dir);

    Technician technician;
    m_boxes.answer = [&](QDialog& modal) { return technician.answer(modal); };
    open_window();
    testing::TestWindow* window = m_dlg.get();
    QPushButton* open = window->button(main_window::kOpenButton);
    QPushButton* save = window->button(main_window::kSaveButton);
    EXPECT_TRUE(open->isVisible());
    EXPECT_TRUE(save->isVisible());
    if (std::getenv("ZORVANE_SCREENSHOT_DIR") != nullptr) {
        QTest::qWait(1500);  // the first pass on screen
        testing::screenshot(*window, QStringLiteral("settings-buttons.png"));
    }

    // Save the QM-48 (the selected tab).
    technician.file = (dir / "unit.qmf").string();
    save->click();
    ASSERT_TRUE(fs::exists(technician.file));
    EXPECT_EQ(technician.file_dialog_titles.last(),
              QStringLiteral("Сохранение файлов настройки устрйоства QM"));
    std::ifstream in(technician.file);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(saved.find("model = QM-48\nserial = 00042\n"), std::string::npos) << saved;

    // Three settings drift; the preview marks them, the load restores them
    // with three frames and three confirmations.
    const auto rows = file_settings(Family::Qm);
    const int drifted[] = {0, 3, 9};
    qm->with_device([&](sim::SimDevice& d) {
        for (const int i : drifted)
            d.set_value(read_code(rows[i]), static_cast<uint16_t>(d.value(read_code(rows[i])) + 5));
    });
    qm->clear_log();
    open->click();
    EXPECT_EQ(technician.file_dialog_titles.last(),
              QStringLiteral("Открытие файлов настройки устрйоства QM"));
    EXPECT_EQ(technician.previews, 1);
    EXPECT_EQ(technician.preview_changed, 3);
    EXPECT_EQ(write_frames(qm), 3);
    EXPECT_EQ(technician.box_texts.last().count(QStringLiteral(": подтверждено")), 3)
        << technician.box_texts.last().toStdString();
    EXPECT_EQ(write_frames(kx), 0);

    // Cancelled, the preview writes nothing.
    qm->with_device([&](sim::SimDevice& d) { d.set_value(read_code(rows[1]), 1); });
    qm->clear_log();
    technician.confirm = false;
    open->click();
    EXPECT_EQ(technician.previews, 2);
    EXPECT_EQ(technician.preview_changed, 1);
    EXPECT_EQ(write_frames(qm), 0);

    // A 24 V file on the 48 V unit: asked, and No (the answer to a box
    // without OK) writes nothing.
    std::string qm24 = saved;
    qm24.replace(qm24.find("model = QM-48"), 13, "model = QM-24");
    const std::string file48 = technician.file;
    technician.file = (dir / "qm24.qmf").string();
    std::ofstream(technician.file) << qm24;
    technician.confirm = true;
    open->click();
    EXPECT_TRUE(technician.box_texts.last().contains(QStringLiteral("QM-24")))
        << technician.box_texts.last().toStdString();
    EXPECT_EQ(technician.previews, 2);
    EXPECT_EQ(write_frames(qm), 0);
    technician.file = file48;

    // The KX tab gets the KX dialogs, and a QM file is refused there.
    window->tabs()->select(0);
    open->click();
    EXPECT_EQ(technician.file_dialog_titles.last(),
              QStringLiteral("Открытие файлов настройки устрйоства KX"));
    EXPECT_TRUE(technician.box_texts.last().contains(QStringLiteral("QM-48")))
        << technician.box_texts.last().toStdString();
    EXPECT_EQ(technician.previews, 2);
    EXPECT_EQ(write_frames(kx), 0);

    fs::remove_all(dir);
}

}  // namespace
}  // namespace zorvane
