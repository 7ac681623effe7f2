// Ports that exist but cannot be used are named with the reason and the
// remedy: a real EACCES for an account outside the port's group, a port held
// by another program. And a port named with --port is the only one touched.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include "cli_run.h"
#include "link/discovery.h"
#include "link/serial_port.h"
#include "no_sys_admin.h"
#include "pty_pair.h"
#include "scoped_env.h"
#include "sim/port_directory.h"

namespace zorvane {
namespace {

using testing::run_cli;

bool contains(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

TEST(PortAccess, AnAccountWithoutPermissionIsToldThePortAndTheRemedy) {
    sim::PortDirectory dir;
    ASSERT_TRUE(
        dir.add(4, sim::DeviceConfig{.model = DeviceModel::KX24, .serial = "4", .battery = {}}));
    // The directory is open to all; the terminal is not (0620 root:tty, as
    // a serial port is 0660 root:dialout), and 'nobody' is in neither group.
    ::chmod(dir.path().c_str(), 0755);
    testing::ScopedEnv env("ZORVANE_PORT_DIR", dir.path().c_str());

    const auto scan = run_cli({"scan"}, /*as_nobody=*/true);
    ASSERT_NE(scan.status, 125) << "could not become nobody";
    EXPECT_EQ(scan.status, 1);
    EXPECT_TRUE(scan.out.empty());
    EXPECT_TRUE(contains(scan.err, "COM4 (" + dir.path().string() + "/COM4): no permission"))
        << scan.err;
    EXPECT_TRUE(contains(scan.err, "dialout")) << scan.err;
    EXPECT_TRUE(contains(scan.err, "udev")) << scan.err;

    const auto ports = run_cli({"ports"}, true);
    EXPECT_EQ(ports.status, 0);
    EXPECT_TRUE(contains(ports.out, "COM4\t" + dir.path().string() + "/COM4\t-\tno permission"))
        << ports.out;

    const auto poll = run_cli({"poll", "--port", "COM4"}, true);
    EXPECT_EQ(poll.status, 1);
    EXPECT_TRUE(contains(poll.err, "no permission")) << poll.err;

    // Root opens it: the device was there all along.
    EXPECT_EQ(run_cli({"scan"}).out, "COM4\tKX-24. S/N: 4\n");
}

TEST(PortAccess, APortHeldByAnotherProgramIsNamedAsBusy) {
    testing::PtyPair held(3);  // a terminal another program holds exclusively
    ASSERT_TRUE(held.ok());
    ASSERT_EQ(::ioctl(held.slave(), TIOCEXCL), 0);
    sim::PortDirectory dir(held.dir());
    ASSERT_TRUE(
        dir.add(5, sim::DeviceConfig{.model = DeviceModel::QM24, .serial = "5", .battery = {}}));
    testing::ScopedEnv env("ZORVANE_PORT_DIR", held.dir().c_str());

    // Another of our own processes holding COM5 stops even root.
    SerialPort other(make_posix_backend());
    ASSERT_TRUE(other.open(5));

    DeviceState state;
    SearchResult result;
    {
        testing::NoSysAdmin as_a_user;  // as root, TIOCEXCL would let us in
        result = search_devices(state);
    }
    EXPECT_TRUE(result.found.empty());
    const auto unusable = result.unusable();
    ASSERT_EQ(unusable.size(), 2u);
    EXPECT_EQ(unusable[0].com, 3);
    EXPECT_EQ(unusable[0].access.access, PortAccess::Busy);
    EXPECT_EQ(unusable[1].com, 5);
    EXPECT_EQ(unusable[1].access.access, PortAccess::Busy);

    // Let go: the device on COM5 is found.
    other.close();
    EXPECT_EQ(scan_devices(state).size(), 1u);
}

TEST(PortAccess, ANamedPortIsTheOnlyOneTouched) {
    sim::PortDirectory dir;
    auto* qm =
        dir.add(2, sim::DeviceConfig{.model = DeviceModel::QM48, .serial = "2", .battery = {}});
    auto* kx =
        dir.add(5, sim::DeviceConfig{.model = DeviceModel::KX48, .serial = "5", .battery = {}});
    ASSERT_TRUE(qm && kx);
    testing::ScopedEnv env("ZORVANE_PORT_DIR", dir.path().c_str());

    const auto poll = run_cli({"poll", "--port", (dir.path() / "COM2").string()});
    EXPECT_EQ(poll.status, 0) << poll.err;
    EXPECT_TRUE(contains(poll.out, "\"g_com_port\":2,\"g_device_kind\":2")) << poll.out;
    EXPECT_EQ(kx->received_bytes(), 0u) << "the search ran";

    const auto scan = run_cli({"scan", "--port=COM5"});
    EXPECT_EQ(scan.out, "COM5\tKX-48. S/N: 5\n");
    EXPECT_EQ(run_cli({"gen", "on", "--port", "COM9"}).status, 1);
    EXPECT_EQ(run_cli({"ports", "--port"}).status, 2);
}

}  // namespace
}  // namespace zorvane
