// zorvane-cli set NAME TEXT: the device search, one pass, then the write of
// setting NAME with TEXT as the typed text, through the routine the window's
// fields use, and a pass that reads the setting back. Prints the frame sent,
// "unchanged" or the refusal; exit 0 when the device holds the value, 3 when
// it holds another ("device holds X"), 1 when it does not answer.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "device/device_state.h"
#include "link/serial_port.h"
#include "pages/setting_write.h"

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
    const auto mode = static_cast<uint8_t>(text[0] - '0');
    const int status =
        report_write(write_fixed_u8(serial_port(), device_state, kEGenUbatWrite, mode));
    if (status != 0) {
        return status;
    }
    return read_back([] { return static_cast<long>(device_state.set_egen_ubat.load()); }, mode,
                     [](long held) { return std::to_string(held); });
}

// The wire value a setting frame carries.
long frame_value(const SettingParam& param, const SettingDecision& decision) {
    return param.payload_width == 1 ? decision.frame[2]
                                    : decision.frame[2] * 256L + decision.frame[3];
}

std::string display_text(float value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    (void)error;
    return std::string(text, end);
}

}  // namespace

int set_after_search(std::string_view name, std::string_view text) {
    if (!poll_pass()) {
        return 1;
    }
    if (!device_state.values_current()) {
        std::fprintf(stderr, "%s\n", kNotAnsweringMessage);
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
    const SettingDecision decision = write_setting(serial_port(), device_state, *param, text);
    const int status = report_write(decision);
    if (status != 0 || decision.kind != SettingDecision::Kind::Send) {
        return status;
    }
    // The device's value in wire units, as read back.
    return read_back(
        [param] {
            return std::lround(static_cast<double>((device_state.*param->field).load()) *
                               param->scale);
        },
        frame_value(*param, decision),
        [param](long) { return display_text((device_state.*param->field).load()); });
}

int cmd_set(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zorvane-cli set NAME TEXT\n");
        return 2;
    }
    if (!search_polled_device()) {
        return 1;
    }
    return set_after_search(argv[0], argv[1]);
}

}  // namespace zorvane::cli
