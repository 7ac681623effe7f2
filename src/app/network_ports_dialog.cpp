#include "app/network_ports_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "link/net_port.h"

namespace zorvane {

namespace {

constexpr const char* kSettingsKey = "network/ports";

QSettings settings() {
    return QSettings(QStringLiteral("Zorvane"), QStringLiteral("zorvane"));
}

}  // namespace

QStringList stored_network_ports() {
    QStringList kept;
    // A hand-edited entry that is no address is left out rather than probed.
    for (const QString& address : settings().value(kSettingsKey).toStringList()) {
        if (parse_network_port(address.trimmed().toStdString()) &&
            !kept.contains(address.trimmed())) {
            kept.push_back(address.trimmed());
        }
    }
    return kept;
}

void store_network_ports(const QStringList& addresses) {
    QSettings kept = settings();
    kept.setValue(kSettingsKey, addresses);
    kept.sync();
}

void use_stored_network_ports() {
    std::vector<std::string> addresses;
    for (const QString& address : stored_network_ports()) {
        addresses.push_back(address.toStdString());
    }
    set_searched_network_ports(std::move(addresses));
}

NetworkPortsDialog::NetworkPortsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Сетевые порты"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        tr("Порты за сетевым преобразователем (ser2net, сервер последовательных портов), "
           "которые опрашиваются при поиске устройств:"),
        this));
    m_list = new QListWidget(this);
    m_list->addItems(stored_network_ports());
    layout->addWidget(m_list);

    auto* row = new QHBoxLayout;
    m_address = new QLineEdit(this);
    m_address->setPlaceholderText(QStringLiteral("tcp://192.168.1.20:4001"));
    m_address->setToolTip(
        tr("tcp://УЗЕЛ:ПОРТ — линия настроена на преобразователе;\n"
           "rfc2217://УЗЕЛ:ПОРТ — программа сама настраивает линию "
           "(57600 бод, 8 бит, чётность, 1 стоп-бит)"));
    m_add = new QPushButton(tr("Добавить"), this);
    m_remove = new QPushButton(tr("Удалить"), this);
    row->addWidget(m_address);
    row->addWidget(m_add);
    row->addWidget(m_remove);
    layout->addLayout(row);
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    layout->addWidget(m_problem);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("Сохранить"), QDialogButtonBox::AcceptRole);
    buttons->addButton(tr("Отмена"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);

    connect(m_add, &QPushButton::clicked, this, &NetworkPortsDialog::OnAdd);
    connect(m_address, &QLineEdit::returnPressed, this, &NetworkPortsDialog::OnAdd);
    connect(m_remove, &QPushButton::clicked, this, &NetworkPortsDialog::OnRemove);
    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkPortsDialog::OnSave);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QStringList NetworkPortsDialog::addresses() const {
    QStringList out;
    for (int i = 0; i < m_list->count(); ++i) {
        out.push_back(m_list->item(i)->text());
    }
    return out;
}

void NetworkPortsDialog::OnAdd() {
    const QString address = m_address->text().trimmed();
    if (!parse_network_port(address.toStdString())) {
        m_problem->setText(
            tr("Адрес не подходит. Укажите tcp://УЗЕЛ:ПОРТ или "
               "rfc2217://УЗЕЛ:ПОРТ, порт от 1 до 65535."));
        return;
    }
    if (addresses().contains(address)) {
        m_problem->setText(tr("Этот порт уже есть в списке."));
        return;
    }
    m_list->addItem(address);
    m_address->clear();
    m_problem->clear();
}

void NetworkPortsDialog::OnRemove() {
    delete m_list->currentItem();
}

void NetworkPortsDialog::OnSave() {
    store_network_ports(addresses());
    accept();
}

}  // namespace zorvane
