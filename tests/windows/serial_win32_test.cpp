// The Windows serial backend without a device: the line it sets, what it
// refuses to take for a serial port, and the port names. The backend on a
// real line is checked end to end under Wine against the simulated devices.
#include "link/serial_win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "link/port_list.h"
#include "link/serial_port.h"
#include "scoped_env.h"

namespace zorvane {
namespace {

using testing::ScopedEnv;

TEST(Win32Line, EveryHandshakeAndTranslationIsOffAndOtherFieldsAreKept) {
    // A port as another program may have left it: 7O2 at 9600 with every
    // handshake and substitution on.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 7;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = TRUE;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutX = dcb.fInX = dcb.fNull = dcb.fErrorChar = dcb.fAbortOnError = TRUE;
    dcb.XonLim = 123;
    dcb.XoffLim = 45;
    dcb.XonChar = 0x11;
    dcb.ErrorChar = '?';

    set_line_dcb(dcb);

    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_TRUE(dcb.fParity);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fDsrSensitivity);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_FALSE(dcb.fOutX || dcb.fInX);
    EXPECT_FALSE(dcb.fNull) << "the wake-up's zero bytes would be dropped";
    EXPECT_FALSE(dcb.fErrorChar);
    EXPECT_FALSE(dcb.fAbortOnError) << "one parity error would fail every later read";
    // What the tool does not own stays as the port reported it.
    EXPECT_EQ(dcb.XonLim, 123);
    EXPECT_EQ(dcb.XoffLim, 45);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.ErrorChar, '?');
}

TEST(Win32Port, OnlyASerialDeviceOpensAndAFailureSaysWhy) {
    auto backend = make_serial_backend();
    EXPECT_EQ(backend->open("\\\\.\\NoSuchPort").access, PortAccess::Missing);
    // A device, but no line.
    EXPECT_EQ(backend->open("NUL").access, PortAccess::OtherError);
    // A plain file would read as an endless end-of-file.
    const auto file = std::filesystem::temp_directory_path() / "zorvane-not-a-port";
    std::FILE* f = std::fopen(file.string().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(backend->open(file.string()).access, PortAccess::OtherError);
    EXPECT_FALSE(backend->is_open());
    std::filesystem::remove(file);

    // A closed backend neither reads nor writes, and closing twice is fine.
    uint8_t byte = 0;
    EXPECT_EQ(backend->read(&byte, 1), -1);
    EXPECT_FALSE(backend->write(&byte, 1));
    backend->close();

    // A port another program has open is busy, in the system's words too.
    const PortOpen held = open_failure(ERROR_ACCESS_DENIED);
    EXPECT_EQ(held.access, PortAccess::Busy);
    EXPECT_EQ(held.error, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(held.error_text.empty());
    EXPECT_EQ(open_failure(ERROR_SHARING_VIOLATION).access, PortAccess::Busy);
    EXPECT_EQ(open_failure(ERROR_FILE_NOT_FOUND).access, PortAccess::Missing);
    EXPECT_EQ(open_failure(ERROR_GEN_FAILURE).access, PortAccess::OtherError);
}

TEST(Win32Port, NamesAreTheDeviceNamespaceOrTheLinkDirectory) {
    {
        ScopedEnv no_dir("ZORVANE_PORT_DIR", nullptr);
        EXPECT_EQ(resolve_port_path(1), "\\\\.\\COM1");
        EXPECT_EQ(resolve_port_path(12), "\\\\.\\COM12");  // not reachable as "COM12"
        EXPECT_EQ(resolve_port_path(255), "\\\\.\\COM255");
        EXPECT_EQ(resolve_port_path(0), "");
        EXPECT_EQ(resolve_port_path(256), "");
    }
    ScopedEnv dir("ZORVANE_PORT_DIR", "C:\\ports");
    EXPECT_EQ(resolve_port_path(3), "C:\\ports\\COM3");
}

TEST(Win32Port, APortDirectoryListsItsComEntriesInOrder) {
    const auto dir = std::filesystem::temp_directory_path() / "zorvane-port-dir";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    // COM1 to COM9 are device names in any directory on Windows.
    for (const char* name : {"COM40", "COM12", "COM012", "COM256", "notes"}) {
        std::fclose(std::fopen((dir / name).string().c_str(), "wb"));
    }
    {
        ScopedEnv env("ZORVANE_PORT_DIR", dir.string().c_str());
        const std::vector<PortInfo> ports = list_ports();
        ASSERT_EQ(ports.size(), 2u);
        EXPECT_EQ(ports[0].com, 12);
        EXPECT_EQ(ports[0].path, resolve_port_path(12));
        EXPECT_EQ(ports[1].com, 40);
        EXPECT_EQ(com_port_of_path(resolve_port_path(12)), 12);
        EXPECT_EQ(com_port_of_path("\\\\.\\COM12"), 0);  // not this directory's
    }
    ScopedEnv no_dir("ZORVANE_PORT_DIR", nullptr);
    EXPECT_EQ(com_port_of_path("\\\\.\\COM12"), 12);
    EXPECT_EQ(com_port_of_path("COM7"), 7);
    EXPECT_EQ(com_port_of_path("C:\\COM7"), 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zorvane
