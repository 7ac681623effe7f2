// zorvane-cli set NAME TEXT: the device search, one pass, then the write of
// setting NAME with TEXT as the typed text, through the routine the window's
// fields use. Prints the frame sent, "unchanged" or the refusal.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "state/device_state.h"
#include "link/serial_port.h"
#include "device/setting_write.h"

namespace zorvane::cli {

namespace {

constexpr const char* kEGenUbat = "EGenUbat";  // the start-mode list of the QM page

void list_names(int family) {
    std::fprintf(stderr, "settings of this device:");
    for (const SettingParam& param : setting_params()) {
        if ((param.page == SettingPage::Kx) == (family == 1)) {
            std::fprintf(stderr, " %s", param.name);
        }
    }
    std::fprintf(stderr, family == 1 ? "\n" : " %s\n", kEGenUbat);
}

// The start mode is a list of two items, not a typed number: it is written
// whenever it is chosen, without comparison.
int set_start_mode(std::string_view text) {
    if (text != "0" && text != "1") {
        std::fprintf(stderr, "%s: допустимые значения 0 и 1\n", kEGenUbat);
        return 2;
    }
    return report_write(write_fixed_u8(serial_port(), device_state, kEGenUbatWrite,
                                       static_cast<uint8_t>(text[0] - '0')));
}

}  // namespace

int cmd_set(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zorvane-cli set NAME TEXT\n");
        return 2;
    }
    const std::string_view name = argv[0];
    const std::string_view text = argv[1];
    if (!search_polled_device() || !poll_pass()) {
        return 1;
    }
    const int family = device_state.g_device_kind.load() == 1 ? 1 : 2;
    if (family != 1 && name == kEGenUbat) {
        return set_start_mode(text);
    }
    const SettingParam* param = find_setting(name, family);
    if (param == nullptr) {
        std::fprintf(stderr, "zorvane-cli: no setting '%.*s' on this device\n",
                     static_cast<int>(name.size()), name.data());
        list_names(family);
        return 2;
    }
    // The window keeps EGenOnTime read-only while the generator starts on
    // battery discharge, and then writes nothing for it.
    if (param->read_only_guard && device_state.set_egen_ubat.load() != 0) {
        std::fprintf(stderr, "%s: не используется, пока %s = 1\n", param->name, kEGenUbat);
        return 2;
    }
    return report_write(write_setting(serial_port(), device_state, *param, text));
}

}  // namespace zorvane::cli
