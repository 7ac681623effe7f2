// The window's list of network bridges: what the dialog takes, what it
// refuses, and that the list is there again for the next run's search.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>

#include "app/network_ports_dialog.h"
#include "link/net_port.h"

namespace zorvane {
namespace {

TEST(NetworkPorts, AnAddedBridgeIsKeptForTheNextRunsSearch) {
    QTemporaryDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    {
        NetworkPortsDialog dialog;
        EXPECT_EQ(dialog.list()->count(), 0);
        for (const char* bad : {"tcp://bridge:99999", "bridge:4001", "/dev/ttyUSB0", ""}) {
            dialog.address_edit()->setText(QString::fromUtf8(bad));
            dialog.OnAdd();
            EXPECT_EQ(dialog.list()->count(), 0) << bad;
            EXPECT_FALSE(dialog.problem_label()->text().isEmpty()) << bad;
        }
        dialog.address_edit()->setText(QStringLiteral(" rfc2217://192.168.1.20:4001 "));
        dialog.OnAdd();
        EXPECT_TRUE(dialog.problem_label()->text().isEmpty());
        dialog.address_edit()->setText(QStringLiteral("rfc2217://192.168.1.20:4001"));
        dialog.OnAdd();  // already there
        dialog.address_edit()->setText(QStringLiteral("tcp://[::1]:4002"));
        dialog.OnAdd();
        ASSERT_EQ(dialog.list()->count(), 2);
        dialog.list()->setCurrentRow(1);
        dialog.OnRemove();
        dialog.OnSave();
    }
    const NetworkPortsDialog again;
    EXPECT_EQ(again.addresses(), QStringList{QStringLiteral("rfc2217://192.168.1.20:4001")});
    use_stored_network_ports();
    EXPECT_EQ(searched_network_ports(), std::vector<std::string>{"rfc2217://192.168.1.20:4001"});
    set_searched_network_ports({});
}

}  // namespace
}  // namespace zorvane
