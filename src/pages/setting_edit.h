// Ties a settings edit to the write of its setting: when the edit loses the
// focus, its guards are checked and the setting write runs; a refused value
// is reported to the technician and nothing is sent.
#pragma once

class QLineEdit;

namespace zorvane {

struct SettingParam;

void attach_setting_edit(QLineEdit* edit, const SettingParam& param);

}  // namespace zorvane
