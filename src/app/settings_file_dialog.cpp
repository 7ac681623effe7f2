#include "app/settings_file_dialog.h"

#include <QDir>

#include "app/file_names.h"

namespace zorvane {

namespace {

using A = SettingsFileAction;

constexpr SettingsFileDialogDef kDialogs[] = {
    {A::Save, Family::Kx, "Сохранение файлов настройки устрйоства KX", "kxf-файл", "*.kxf"},
    {A::Open, Family::Kx, "Открытие файлов настройки устрйоства KX", "kxf-файл", "*.kxf"},
    {A::Save, Family::Qm, "Сохранение файлов настройки устрйоства QM", "qmf-файл", "*.qmf"},
    {A::Open, Family::Qm, "Открытие файлов настройки устрйоства QM", "qmf-файл", "*.qmf"},
};

constexpr const char* kAllFiles = "Все файлы (*.*)";

}  // namespace

std::unique_ptr<QFileDialog> make_settings_file_dialog(SettingsFileAction action, Family family,
                                                       DeviceModel model,
                                                       const std::string& serial) {
    const SettingsFileDialogDef* def = &kDialogs[0];
    for (const SettingsFileDialogDef& row : kDialogs) {
        if (row.action == action && row.family == (family == Family::Kx ? Family::Kx : Family::Qm))
            def = &row;
    }
    auto dialog = std::make_unique<QFileDialog>();
    dialog->setWindowTitle(QString::fromUtf8(def->title));
    dialog->setNameFilters({QStringLiteral("%1 (%2)").arg(QString::fromUtf8(def->filter_name),
                                                          QLatin1String(def->pattern)),
                            QString::fromUtf8(kAllFiles)});
    dialog->setDirectory(dialog_folder());
    if (action == A::Save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setDefaultSuffix(QLatin1String(def->pattern + 2));
        dialog->selectFile(suggested_file_name(model, serial, QLatin1String(def->pattern + 2)));
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    return dialog;
}

}  // namespace zorvane
