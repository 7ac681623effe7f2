// The serial ports of a Windows machine: the COM ports the system lists under
// HARDWARE\DEVICEMAP\SERIALCOMM (every port driver enters its ports there,
// USB adapters included, while they are plugged in).
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "link/port_list.h"
#include "link/port_names.h"
#include "link/serial_port.h"

namespace zorvane {

namespace {

std::string narrow(const wchar_t* text, size_t length) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr,
                          nullptr);
    return out;
}

// The port names of the SERIALCOMM key: "COM3", or whatever a virtual port
// driver calls its ports.
std::vector<std::string> registry_port_names() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t value_name[256];
        DWORD name_length = 256;
        wchar_t data[256];
        DWORD data_size = sizeof data;
        DWORD type = 0;
        const LONG result = ::RegEnumValueW(key, i, value_name, &name_length, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &data_size);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        size_t length = data_size / sizeof(wchar_t);
        while (length > 0 && data[length - 1] == L'\0') {
            --length;
        }
        if (length > 0) {
            names.push_back(narrow(data, length));
        }
    }
    ::RegCloseKey(key);
    return names;
}

void sort_ports(std::vector<PortInfo>& ports) {
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        if ((a.com == 0) != (b.com == 0)) {
            return a.com != 0;
        }
        return a.com != b.com ? a.com < b.com : a.path < b.path;
    });
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const PortInfo& a, const PortInfo& b) { return a.path == b.path; }),
                ports.end());
}

// The file name of a path with either separator.
std::string leaf(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::vector<PortInfo> list_ports() {
    std::vector<PortInfo> ports;
    if (const char* dir = std::getenv("ZORVANE_PORT_DIR")) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            const int com = com_number_of_name(entry.path().filename().string());
            if (com >= kFirstListedCom && com <= kLastListedCom) {
                PortInfo port;
                port.com = com;
                port.path = resolve_port_path(com);
                ports.push_back(std::move(port));
            }
        }
    } else {
        for (const std::string& name : registry_port_names()) {
            PortInfo port;
            port.com = com_port_of_device_name(name);
            port.path = port.com > 0 ? resolve_port_path(port.com) : "\\\\.\\" + name;
            ports.push_back(std::move(port));
        }
    }
    sort_ports(ports);
    return ports;
}

int com_port_of_path(const std::string& path) {
    const int com = com_number_of_name(leaf(path));
    if (com < kFirstListedCom || com > kLastListedCom) {
        return 0;
    }
    // "COM3" and "\\.\COM3" are the table's; with a port directory, only its
    // own entries are.
    if (std::getenv("ZORVANE_PORT_DIR") != nullptr || path.size() > leaf(path).size()) {
        return resolve_port_path(com) == path ? com : 0;
    }
    return com;
}

}  // namespace zorvane
