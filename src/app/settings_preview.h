// The preview of a settings file against the device: every setting of the
// device's family with the value the device holds and the file's, the ones
// that would change marked. Accepting it is the technician's confirmation.
#pragma once

#include <QDialog>
#include <vector>

#include "device/settings_file.h"
#include "device/settings_transfer.h"

class QPushButton;
class QTableWidget;

namespace zorvane {

class SettingsPreviewDialog : public QDialog {
    Q_OBJECT
  public:
    // `source` names the file and the device in a line or two above the table.
    SettingsPreviewDialog(const QString& source, std::vector<SettingDiff> rows,
                          QWidget* parent = nullptr);

    QTableWidget* table() const { return m_table; }
    QPushButton* write_button() const { return m_write; }
    int changed_count() const { return m_changed; }

  private:
    std::vector<SettingDiff> m_rows;
    QTableWidget* m_table = nullptr;
    QPushButton* m_write = nullptr;
    int m_changed = 0;
};

// The per-setting report after a load: confirmed, or what the device holds.
QString settings_apply_report(const ApplyResult& result);

}  // namespace zorvane
