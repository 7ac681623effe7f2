// zorvane-cli set NAME TEXT: the device search, one pass, then the write of
// setting NAME with TEXT as the typed text, through the routine the window's
// fields use, and a pass that reads the setting back. Prints the frame sent,
// "unchanged" or the refusal (exit 2; --force writes a value outside the
// unit's class span or one inverting an ordered pair); exit 0 when the device holds the value, 3
// when it holds another ("device holds X"), 1 when it does not answer.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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
    const auto mode = static_cast<uint8_t>(text[0] - '0');
    const int status =
        report_write(write_fixed_u8(serial_port(), device_state, v.write_code, mode));
    if (status != 0) {
        return status;
    }
    return read_back([&v] { return static_cast<long>((device_state.*v.field).load()); }, mode,
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

int set_after_search(std::string_view name, std::string_view text, bool force) {
    if (!poll_pass()) {
        return 1;
    }
    if (!device_state.values_current()) {
        std::fprintf(stderr, "%s\n", kNotAnsweringMessage);
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
    // Typed on a command line: a number finer than the device keeps is
    // refused, not cut; --force is the technician's word for a value outside
    // the unit's class span or an inverted pair.
    const SettingDecision decision = write_setting(serial_port(), device_state, *param, text,
                                                   WriteOptions{.exact = true, .confirmed = force});
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
    bool force = false;
    std::vector<const char*> words;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--force") == 0) {
            force = true;
        } else {
            words.push_back(argv[i]);
        }
    }
    if (words.size() != 2) {
        std::fprintf(stderr, "usage: zorvane-cli set NAME TEXT [--force]\n");
        return 2;
    }
    if (!search_polled_device()) {
        return no_device_status();
    }
    return set_after_search(words[0], words[1], force);
}

}  // namespace zorvane::cli
