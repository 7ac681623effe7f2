// The serial port on Windows: a COM device opened with CreateFile, the line
// set with the DCB and the read time-outs left to the driver, which implements
// them natively (COMMTIMEOUTS are what the tool's time-outs were made of).
#include "link/serial_win32.h"

#include <algorithm>
#include <memory>
#include <string>

#include "link/serial_port.h"

namespace zorvane {

namespace {

// The line time-outs, in milliseconds: a read of up to n bytes ends when n
// bytes have arrived, 5 ms after the latest byte, or 50 + 5·n ms after it began.
constexpr DWORD kReadIntervalMs = 5;
constexpr DWORD kReadTotalPerByteMs = 5;
constexpr DWORD kReadTotalConstantMs = 50;
constexpr DWORD kWriteTotalPerByteMs = 5;
constexpr DWORD kWriteTotalConstantMs = 5;

}  // namespace

std::wstring wide_path(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                        static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                          wide.data(), n);
    return wide;
}

std::string system_text(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string utf8;
    if (n > 0 && text != nullptr) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0,
                                               nullptr, nullptr);
        utf8.resize(static_cast<size_t>(std::max(size, 0)));
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8.data(), size, nullptr,
                              nullptr);
    }
    if (text != nullptr) {
        ::LocalFree(text);
    }
    while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ' ||
                             utf8.back() == '.')) {
        utf8.pop_back();
    }
    return utf8.empty() ? "error " + std::to_string(error) : utf8;
}

namespace {

class Win32Backend final : public PortBackend {
  public:
    ~Win32Backend() override { close(); }

    PortOpen open(const std::string& path) override {
        close();
        const std::wstring name = wide_path(path);
        if (name.empty()) {
            return open_failure(ERROR_INVALID_NAME);
        }
        // No sharing: while we talk on the line nobody else may open it, and
        // a line another program holds refuses us.
        HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return open_failure(::GetLastError());
        }
        // Only a serial line has a line state: a plain file would read as an
        // endless end-of-file, and NUL or a console as silence.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(handle, &dcb)) {
            ::CloseHandle(handle);
            return PortOpen::failed(PortAccess::OtherError, ERROR_NOT_SUPPORTED,
                                    "not a serial port");
        }
        m_handle = handle;
        return PortOpen::usable();
    }

    void close() override {
        if (m_handle == INVALID_HANDLE_VALUE) {
            return;
        }
        ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

    bool is_open() const override { return m_handle != INVALID_HANDLE_VALUE; }

    void apply_line_settings() override {
        if (m_handle == INVALID_HANDLE_VALUE) {
            return;
        }
        // A port that refuses a setting is used with the settings it has:
        // the results are not looked at.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (::GetCommState(m_handle, &dcb)) {
            set_line_dcb(dcb);
            ::SetCommState(m_handle, &dcb);
        }
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = kReadIntervalMs;
        timeouts.ReadTotalTimeoutMultiplier = kReadTotalPerByteMs;
        timeouts.ReadTotalTimeoutConstant = kReadTotalConstantMs;
        timeouts.WriteTotalTimeoutMultiplier = kWriteTotalPerByteMs;
        timeouts.WriteTotalTimeoutConstant = kWriteTotalConstantMs;
        ::SetCommTimeouts(m_handle, &timeouts);
        // A freshly opened port starts with nothing pending from earlier use
        // or received under the old line settings.
        ::PurgeComm(m_handle, PURGE_RXABORT | PURGE_RXCLEAR);
    }

    bool write(const uint8_t* data, size_t size) override {
        if (m_handle == INVALID_HANDLE_VALUE) {
            return false;
        }
        if (size == 0) {
            return true;
        }
        // The write time-out ends a write that does not complete: fewer bytes
        // written than asked is a failed write.
        DWORD written = 0;
        if (!::WriteFile(m_handle, data, static_cast<DWORD>(size), &written, nullptr)) {
            return false;
        }
        return written == size;
    }

    int read(uint8_t* data, size_t size) override {
        if (m_handle == INVALID_HANDLE_VALUE) {
            return -1;
        }
        if (size == 0) {
            return 0;
        }
        DWORD got = 0;
        if (!::ReadFile(m_handle, data, static_cast<DWORD>(size), &got, nullptr)) {
            // A line error (parity, framing) is cleared and the read counts
            // as a time-out with what arrived; anything else is the link gone.
            DWORD errors = 0;
            if (::GetLastError() == ERROR_OPERATION_ABORTED &&
                ::ClearCommError(m_handle, &errors, nullptr)) {
                return static_cast<int>(got);
            }
            return -1;
        }
        return static_cast<int>(got);
    }

  private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

}  // namespace

PortOpen open_failure(unsigned long error) {
    PortAccess access = PortAccess::OtherError;
    switch (error) {
        // A COM port another program has open refuses every other opener
        // with "access denied"; Wine says the same of a line held on its
        // host in its own words.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BUSY:
            access = PortAccess::Busy;
            break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BAD_UNIT:
        case ERROR_INVALID_NAME:
            access = PortAccess::Missing;
            break;
        default:
            break;
    }
    return PortOpen::failed(access, static_cast<int>(error), system_text(error));
}

void set_line_dcb(DCB& dcb) {
    dcb.BaudRate = CBR_57600;
    dcb.ByteSize = 8;
    dcb.Parity = EVENPARITY;
    dcb.fParity = TRUE;  // parity is checked
    dcb.StopBits = ONESTOPBIT;
    // Raw bytes, no handshake: the link has no handshake lines, so a stale
    // CTS/DSR or XON/XOFF setting would stall every write; zero bytes (the
    // wake-up) must not be dropped, nor a byte replaced after a parity error.
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    // A line error must not stop every later read until someone clears it.
    dcb.fAbortOnError = FALSE;
}

std::unique_ptr<PortBackend> make_local_backend() {
    return std::make_unique<Win32Backend>();
}

}  // namespace zorvane
