// Ties a settings edit to the write of its setting: when the edit loses the
// focus after the technician changed its text (typed, pasted, deleted), its
// guards are checked and the setting write runs; a refused value is reported
// to the technician and nothing is sent. A field left as it was shown writes
// nothing, whatever its text.
#pragma once

class QLineEdit;
class QWidget;

namespace zorvane {

struct SettingParam;

void attach_setting_edit(QLineEdit* edit, const SettingParam& param);
// Unties every settings edit inside `page`: for a page being torn down, so
// that no focus change during the teardown writes anything.
void detach_setting_edits(QWidget* page);

}  // namespace zorvane
