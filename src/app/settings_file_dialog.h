// The dialogs behind the two settings-file buttons ("Открыть", "Сохранить"):
// a KX and a QM variant of each, chosen by the family of the selected device.
#pragma once

#include <QFileDialog>
#include <memory>

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

// Without an owner, as the buttons made them.
std::unique_ptr<QFileDialog> make_settings_file_dialog(SettingsFileAction action, Family family);

}  // namespace zorvane
