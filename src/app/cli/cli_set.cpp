// zorvane-cli set NAME TEXT: the device search, one pass, then the write of
// setting NAME with TEXT as the typed text, through the routine the window's
// fields use. Prints the frame sent, "unchanged" or the refusal.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "device/setting_write.h"
#include "link/serial_port.h"
#include "state/device_state.h"
#include "state/variables.h"

namespace zorvane::cli {

namespace {

void list_names(Family family) {
    std::fprintf(stderr, "settings of this device:");
    for (const Variable& v : variables()) {
        if (v.writable() && has_family(v.families, family)) {
            std::fprintf(stderr, " %s", v.name_for(family));
        }
    }
    std::fprintf(stderr, "\n");
}

// A choice (the start mode) is picked from a list, not typed: it is written
// whenever it is chosen, without comparison.
int set_choice(const Variable& v, std::string_view text) {
    const bool digit = text.size() == 1 && text[0] >= '0' && text[0] - '0' <= v.wire_max;
    if (!digit) {
        std::fprintf(stderr, "%s: допустимые значения от 0 до %d\n", v.name, v.wire_max);
        return 2;
    }
    return report_write(write_fixed_u8(serial_port(), device_state, v.write_code,
                                       static_cast<uint8_t>(text[0] - '0')));
}

// The setting whose field is `field`.
const Variable* variable_of(FloatField field) {
    for (const Variable& v : variables()) {
        if (v.field == field) {
            return &v;
        }
    }
    return nullptr;
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
    const Family family =
        family_of_kind(device_state.g_device_kind.load()) == Family::Kx ? Family::Kx : Family::Qm;
    const Variable* v = find_setting_variable(name, family);
    if (v != nullptr && v->choice) {
        return set_choice(*v, text);
    }
    const SettingParam* param = v != nullptr ? find_setting(name, family) : nullptr;
    if (param == nullptr) {
        std::fprintf(stderr, "zorvane-cli: no setting '%.*s' on this device\n",
                     static_cast<int>(name.size()), name.data());
        list_names(family);
        return 2;
    }
    // The window keeps such a field read-only, and then writes nothing for it.
    if (!v->applies(device_state)) {
        const Variable* other = variable_of(v->applies_while_zero);
        std::fprintf(stderr, "%s: не используется, пока %s не 0\n", param->name,
                     other != nullptr ? other->name : "?");
        return 2;
    }
    return report_write(write_setting(serial_port(), device_state, *param, text));
}

}  // namespace zorvane::cli
