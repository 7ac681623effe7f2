// Writing one setting: the setting fields (one per registry setting and page
// that shows it as a text field) and the one routine that turns a field's
// text into the frame to send (or decides to send nothing).
//
//   26.5 in a field of scale 10  > BE 4D 01 09 AA    (265, two-byte payload)
//                                  0  1  2  3  4
//   7 in a one-byte field        > BE 73 07 AA
//
// The reply to a write is read once and not examined.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "link/serial_port.h"
#include "state/device_state.h"
#include "state/models.h"

namespace zorvane {

enum class SettingPage { Kx, Inverter, MainsTransfer, Charger, Generator };

struct Variable;

struct SettingParam {
    int control_id;  // edit control whose focus loss writes it
    SettingPage page;
    const char* name;  // the technician's name on that page
    FloatField field;  // value last read from the device, display units
    uint8_t write_command;
    int scale;             // display units to wire units: 1, 10 or 1440
    int payload_width;     // 2 (5-byte frame) or 1 (4-byte frame)
    bool shown_guard;      // does nothing while g_settings_shown is 0
    bool read_only_guard;  // does nothing while its edit is read-only
    // Set where the field shows the value as a whole number followed by this
    // text, more coarsely than the device keeps it (RFloatTime: whole days
    // shown, minutes kept). That shown text, left as it is, stands for the
    // stored value and writes nothing.
    const char* whole_shown_suffix = nullptr;
    const Variable* variable = nullptr;  // its registry row
};

std::span<const SettingParam> setting_params();
const SettingParam* find_setting(int control_id);
// By name for the given family (the KX page, or else the QM tabs).
const SettingParam* find_setting(std::string_view name, Family family);

// The text a field with whole_shown_suffix shows for `stored`: the whole
// number, halves away from zero, then the suffix. The display and the "left
// as shown" rule both use it.
std::string whole_shown_text(const SettingParam& param, float stored);
std::string whole_shown_text(const char* suffix, float stored);

// Largest number the field accepts, in display units (65535 or 255 wire
// units divided by the scale).
double setting_max_display(const SettingParam& param);

struct SettingDecision {
    enum class Kind { Send, Unchanged, Refused };
    Kind kind = Kind::Unchanged;
    std::array<uint8_t, 5> frame{};
    int frame_length = 0;
    std::string refusal;  // for Refused: the setting's name and the range it accepts
    // For Refused: a value outside what the unit's class survives, an order
    // it would invert, or a class not established. A technician at the unit
    // may write it all the same (WriteOptions::confirmed); a remote path never.
    bool overridable = false;
    bool sent = false;  // the frame went out on an open port
};

struct WriteOptions {
    // A number finer than the device keeps is refused, naming the two
    // nearest values it can hold (command line, MQTT); without it the finer
    // digits are cut off, as the window's fields do.
    bool exact = false;
    // The technician at the unit confirmed an overridable refusal (--force,
    // a confirmation box); never set by a remote path.
    bool confirmed = false;
};

// From the field's text (UTF-8) and the stored value: first 9 characters,
// decimal conversion (digit groups by blanks, a decimal point or a comma
// between digits) ignoring a trailing unit, exact comparison with
// the stored float widened, scale, truncation toward zero, payload range.
// Text without a leading number, with two separators that leave no single
// reading ("1,234.5"), or a number that does not fit the payload once scaled,
// is refused; text with nothing in it writes nothing.
SettingDecision decide_setting_write(const SettingParam& param, std::string_view text,
                                     float stored_value, bool exact = false);

// Whether a wire value means something on the polled unit: within the span
// of its voltage class (which must be established where the span depends on
// it) and keeping the order of every pair the setting belongs to, against
// what the unit holds. An overridable refusal, or a Send decision unchanged.
SettingDecision judge_setting_value(const DeviceState& state, const SettingParam& param,
                                    uint16_t wire);
// "44.5", "3000", "2.5": a wire value in the setting's display units.
std::string display_value_text(const SettingParam& param, double wire);

// The refusal of every write to a unit whose model was not established.
inline constexpr const char* kModelUnsureText =
    "модель устройства не установлена: его ответ о состоянии не прошёл проверку при поиске, "
    "ничего не записано. Проверьте соединительный кабель и повторите поиск";
// Nothing goes to a unit whose model is not established.
bool model_unsure(const DeviceState& state);

// A value already in wire units (from a settings file): the range and the
// frame of a typed value, without the comparison (the caller knows the value
// differs from the device's).
SettingDecision decide_setting_wire(const SettingParam& param, double wire);

// The whole write of one field: guards are the caller's (it knows the edit's
// read-only state); borrows the port, decides, sends, returns the port.
// Refuses, sending nothing, while the device's values are not current.
SettingDecision write_setting(SerialPort& port, DeviceState& state, const SettingParam& param,
                              std::string_view text, const WriteOptions& options = {});

// The write of a wire value through the same borrowing path.
SettingDecision write_setting_wire(SerialPort& port, DeviceState& state, const SettingParam& param,
                                   double wire);

// The refusal while the device's values are not known.
inline constexpr const char* kValueUnknownText =
    "значение не прочитано с устройства, ничего не записано";
// A frame for a unit whose link is down is not sent.
inline constexpr const char* kLinkDownText = "нет связи с устройством, ничего не записано";

// Fixed-value writes and actions through the same borrowing path: a Send
// decision, with `sent` telling whether the port opened, or a refusal while
// the link of the polled unit is down (kLinkDownText) or for a unit whose
// model is not established.
SettingDecision write_fixed_u8(SerialPort& port, DeviceState& state, uint8_t command,
                               uint8_t value);
SettingDecision write_fixed_u16(SerialPort& port, DeviceState& state, uint8_t command,
                                uint16_t value);
SettingDecision send_action(SerialPort& port, DeviceState& state,
                            uint8_t command);  // 0x48 / 0x49

// The fixed-value controls of the external generator tab.
inline constexpr uint8_t kEGenUbatWrite = 0x6D;  // start mode, 0 or 1 (combo 1088)
inline constexpr uint8_t kEGenWorkWrite = 0x75;  // training run length (checkbox 1089)
inline constexpr uint16_t kTrainingOnSeconds = 20;

}  // namespace zorvane
