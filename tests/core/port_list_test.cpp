// The port listing: names to COM numbers and back, a machine's sysfs and
// by-id links laid out by the test, a port directory, and the report of the
// ports that cannot be used.
#include "link/port_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "link/port_names.h"
#include "link/port_report.h"
#include "link/serial_port.h"
#include "scoped_env.h"

namespace zorvane {
namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        char name[] = "/tmp/zorvane-ports-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempDir() { fs::remove_all(path); }
};

TEST(PortNames, ComNumbersOfNamesAndDevices) {
    EXPECT_EQ(com_number_of_name("COM7"), 7);
    EXPECT_EQ(com_number_of_name("com12"), 12);
    for (const char* bad : {"COM", "COM0", "COM07", "COM-1", "COM1x", "CON1", "xCOM1"}) {
        EXPECT_EQ(com_number_of_name(bad), 0) << bad;
    }
    EXPECT_EQ(com_port_of_device_name("ttyS0"), 1);
    EXPECT_EQ(com_port_of_device_name("ttyS31"), 32);
    EXPECT_EQ(com_port_of_device_name("ttyUSB0"), 33);
    EXPECT_EQ(com_port_of_device_name("ttyACM31"), 96);
    for (const char* none : {"ttyS32", "ttyUSB", "ttyAMA0", "ttyUSB01", "tty0"}) {
        EXPECT_EQ(com_port_of_device_name(none), 0) << none;
    }
}

TEST(PortNames, NamedPortsAndPathsOutsideTheTable) {
    testing::ScopedEnv dir("ZORVANE_PORT_DIR", "/ports");
    const PortInfo com = port_from_text("com3");
    EXPECT_EQ(com.com, 3);
    EXPECT_EQ(com.path, "/ports/COM3");
    EXPECT_EQ(port_from_text("/ports/COM9").com, 9);
    const PortInfo other = port_from_text("/dev/ttyAMA0");
    EXPECT_EQ(other.com, 0);
    EXPECT_EQ(other.path, "/dev/ttyAMA0");
    EXPECT_TRUE(port_from_text("").path.empty());

    // A path outside the table gets a number of its own that leads back to it,
    // the same one each time it is named.
    const int n = com_port_for_path("/dev/ttyAMA0");
    EXPECT_GT(n, kLastListedCom);
    EXPECT_EQ(com_port_for_path("/dev/ttyAMA0"), n);
    EXPECT_NE(com_port_for_path("/dev/rfcomm0"), n);
    EXPECT_EQ(resolve_port_path(n), "/dev/ttyAMA0");
    EXPECT_EQ(com_port_for_path("/ports/COM4"), 4);
}

TEST(PortList, SysfsTerminalsWithADeviceUnderTheirComNumbers) {
    TempDir root;
    const fs::path sys = root.path / "sys";
    const fs::path dev = root.path / "dev";
    fs::create_directories(dev / "serial/by-id");
    auto terminal = [&](const char* name, bool device, int type) {
        fs::create_directories(sys / name);
        if (device) {
            fs::create_directories(root.path / "devices" / name);
            fs::create_directory_symlink(root.path / "devices" / name, sys / name / "device");
        }
        if (type >= 0) {
            std::ofstream(sys / name / "type") << type << "\n";
        }
        std::ofstream(dev / name).put('\0');
    };
    terminal("tty0", false, -1);    // a virtual console
    terminal("ttyS0", true, 4);     // a UART that is there
    terminal("ttyS1", true, 0);     // a legacy port without a UART
    terminal("ttyUSB2", true, -1);  // an adapter
    terminal("ttyAMA0", true, -1);  // a board's UART: no COM number
    terminal("ttyACM0", true, -1);
    fs::create_symlink("../../ttyUSB2", dev / "serial/by-id/usb-FTDI_FT232R_A9XK-if00-port0");

    const std::vector<PortInfo> ports = list_system_ports(sys.string(), dev.string());
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].com, 1);
    EXPECT_EQ(ports[0].path, (dev / "ttyS0").string());
    EXPECT_EQ(ports[1].com, 35);
    EXPECT_EQ(ports[1].by_id, (dev / "serial/by-id/usb-FTDI_FT232R_A9XK-if00-port0").string());
    EXPECT_EQ(ports[2].com, 65);
    EXPECT_TRUE(ports[2].by_id.empty());
    EXPECT_EQ(ports[3].com, 0) << "ports outside the table come last";
    EXPECT_EQ(ports[3].path, (dev / "ttyAMA0").string());
}

TEST(PortList, APortDirectoryListsItsComEntriesInOrder) {
    TempDir dir;
    for (const char* name : {"COM10", "COM2", "junk", "COM0", "COM256"}) {
        std::ofstream(dir.path / name).put('\0');
    }
    testing::ScopedEnv env("ZORVANE_PORT_DIR", dir.path.c_str());
    const std::vector<PortInfo> ports = list_ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].com, 2);
    EXPECT_EQ(ports[1].com, 10);
    EXPECT_EQ(ports[1].path, (dir.path / "COM10").string());
}

TEST(PortReport, NamesEachUnusablePortAndTheRemedyOfItsKind) {
    std::vector<PortInfo> ports(3);
    ports[0] = {34, "/dev/ttyUSB1", "/dev/serial/by-id/usb-x", {}};
    ports[0].access = PortOpen::failed(PortAccess::NoPermission, EACCES, "Permission denied");
    ports[1] = {1, "/dev/ttyS0", "", {}};  // usable: not named
    ports[2] = {0, "/dev/ttyAMA0", "", {}};
    ports[2].access = PortOpen::failed(PortAccess::Busy, EBUSY, "Device or resource busy");

    const std::string en = unusable_ports_report(ports, Language::English);
    EXPECT_NE(en.find("COM34 (/dev/ttyUSB1), /dev/serial/by-id/usb-x: no permission"),
              std::string::npos)
        << en;
    EXPECT_NE(en.find("/dev/ttyAMA0: the port is held by another program"), std::string::npos);
    EXPECT_EQ(en.find("ttyS0"), std::string::npos);
    EXPECT_NE(en.find("dialout"), std::string::npos);
    EXPECT_NE(en.find("udev"), std::string::npos);
    EXPECT_NE(en.find("close the other program"), std::string::npos);

    const std::string ru = unusable_ports_report(ports, Language::Russian);
    EXPECT_NE(ru.find("COM34 (/dev/ttyUSB1)"), std::string::npos);
    EXPECT_NE(ru.find("нет прав"), std::string::npos);
    EXPECT_NE(ru.find("dialout"), std::string::npos);

    // Only the remedy of what happened; nothing at all when all is well.
    ports.pop_back();
    EXPECT_EQ(unusable_ports_report(ports, Language::English).find("close the other program"),
              std::string::npos);
    ports.erase(ports.begin());
    EXPECT_TRUE(unusable_ports_report(ports, Language::English).empty());
    EXPECT_NE(no_device_report(0, Language::English), no_device_report(2, Language::English));
}

}  // namespace
}  // namespace zorvane
