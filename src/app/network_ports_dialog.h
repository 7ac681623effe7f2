// The network bridges the device search looks at besides the machine's own
// serial ports: a small dialog to add and remove them, and the list kept
// between runs.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace zorvane {

// The kept list (QSettings), handed to the device search.
QStringList stored_network_ports();
void store_network_ports(const QStringList& addresses);
// Gives the search the kept list; called before every search of the window.
void use_stored_network_ports();

class NetworkPortsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit NetworkPortsDialog(QWidget* parent = nullptr);

    QStringList addresses() const;
    QLineEdit* address_edit() const { return m_address; }
    QPushButton* add_button() const { return m_add; }
    QPushButton* remove_button() const { return m_remove; }
    QLabel* problem_label() const { return m_problem; }
    QListWidget* list() const { return m_list; }

    // Adds the typed address, or says what is wrong with it and adds nothing.
    void OnAdd();
    void OnRemove();
    // Keeps the list and closes.
    void OnSave();

  private:
    QLineEdit* m_address = nullptr;
    QListWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_remove = nullptr;
    QLabel* m_problem = nullptr;
};

}  // namespace zorvane
