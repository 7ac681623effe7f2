#include "link/port_report.h"

namespace zorvane {

namespace {

struct Text {
    const char* russian;
    const char* english;
    const char* in(Language language) const {
        return language == Language::Russian ? russian : english;
    }
};

constexpr Text kNoPermission{"нет прав на открытие порта", "no permission to open the port"};
constexpr Text kBusy{"порт занят другой программой", "the port is held by another program"};
constexpr Text kPermissionRemedy{
    "Нет прав: добавьте пользователя в группу dialout (sudo usermod -aG dialout $USER) и войдите "
    "в систему заново, или установите правило udev для адаптеров (см. README).",
    "No permission: add your user to the dialout group (sudo usermod -aG dialout $USER) and log "
    "in again, or install the udev rule for serial adapters (see the README)."};
constexpr Text kBusyRemedy{
    "Порт занят: закройте другую программу, которая его использует, и перезапустите Zorvane.",
    "Busy: close the other program that holds the port, then start again."};
constexpr Text kUnusableHeading{"Некоторые порты недоступны:", "Some serial ports cannot be used:"};
constexpr Text kNoDeviceNoPorts{
    "Последовательные порты не обнаружены. Подключите адаптер и перезапустите программу",
    "no device found: no serial port was seen (is the adapter plugged in?)"};
constexpr Text kNoDeviceOnPorts{
    "Устройств не обнаружено. Проверте соеденительный кабель и перезапустите программу",
    "no device found on the serial ports seen; check the cable"};

}  // namespace

std::string unusable_ports_report(std::span<const PortInfo> ports, Language language) {
    std::string lines;
    bool permission = false;
    bool busy = false;
    for (const PortInfo& port : ports) {
        const Text* why = nullptr;
        if (port.access.access == PortAccess::NoPermission) {
            why = &kNoPermission;
            permission = true;
        } else if (port.access.access == PortAccess::Busy) {
            why = &kBusy;
            busy = true;
        } else {
            continue;
        }
        lines += port_label(port);
        if (!port.by_id.empty()) {
            lines += ", " + port.by_id;
        }
        lines += std::string(": ") + why->in(language) + "\n";
    }
    if (lines.empty()) {
        return {};
    }
    std::string report = std::string(kUnusableHeading.in(language)) + "\n" + lines + "\n";
    if (permission) {
        report += std::string(kPermissionRemedy.in(language)) + "\n";
    }
    if (busy) {
        report += std::string(kBusyRemedy.in(language)) + "\n";
    }
    report.pop_back();
    return report;
}

std::string no_device_report(size_t ports_seen, Language language) {
    if (ports_seen == 0) {
        return kNoDeviceNoPorts.in(language);
    }
    std::string text = kNoDeviceOnPorts.in(language);
    if (language == Language::English) {
        text += " (" + std::to_string(ports_seen) + (ports_seen == 1 ? " port)" : " ports)");
    }
    return text;
}

}  // namespace zorvane
