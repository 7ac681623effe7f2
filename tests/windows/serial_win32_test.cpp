// The Windows serial backend without a device: the line it sets, what it
// refuses to take for a serial port, and the port names. The backend on a
// real line is checked end to end under Wine against the simulated devices.
#include "link/serial_win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

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

TEST(Win32Port, OnlyASerialDeviceOpens) {
    auto backend = make_serial_backend();
    EXPECT_FALSE(backend->open("\\\\.\\COM254"));  // no such port
    EXPECT_FALSE(backend->open("NUL"));            // a device, but no line
    // A plain file would read as an endless end-of-file.
    const auto file = std::filesystem::temp_directory_path() / "zorvane-not-a-port";
    std::FILE* f = std::fopen(file.string().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_FALSE(backend->open(file.string()));
    EXPECT_FALSE(backend->is_open());
    std::filesystem::remove(file);

    // A closed backend neither reads nor writes, and closing twice is fine.
    uint8_t byte = 0;
    EXPECT_EQ(backend->read(&byte, 1), -1);
    EXPECT_FALSE(backend->write(&byte, 1));
    backend->close();
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

}  // namespace
}  // namespace zorvane
