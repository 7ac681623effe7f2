// The dialogs behind the two settings-file buttons ("Открыть", "Сохранить"):
// a KX and a QM variant of each, chosen by the family of the selected device.
#pragma once

#include <QFileDialog>
#include <memory>
#include <string>

#include "state/models.h"

namespace zorvane {

enum class SettingsFileAction { Open, Save };

struct SettingsFileDialogDef {
    SettingsFileAction action;
    Family family;
    const char* title;
    const char* filter_name;
    const char* pattern;
};

// Without an owner, as the buttons made them. Both open in the folder used
// last (at first the documents folder); saving offers a name that tells the
// unit `model`/`serial` and the day.
std::unique_ptr<QFileDialog> make_settings_file_dialog(SettingsFileAction action, Family family,
                                                       DeviceModel model = DeviceModel::KX24,
                                                       const std::string& serial = {});

}  // namespace zorvane
