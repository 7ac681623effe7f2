// The device registry: one row per device variable, with everything the tool
// knows of it. The reply decoders, the setting writes, both pages, the poll
// JSON, clearing the state and the simulated device all read these rows;
// settings files, recordings and telemetry walk them for names, units,
// scales, ranges and classes.
//
//   one-word reply  > BE 4E AA        < BE CE 01 09 AA        (265 / 10 -> UbatLow 26.5 V)
//                                       0  1  2  3  4
//   one-byte reply  > BE 62 AA        < BE E2 07 AA           (AbsEndFactor 7)
//   readings 0x41   < BE C1 w0 w0 w1 w1 w2 w2 w3 w3 AA        (four rows, words 0..3)
//   temperatures 0x46 < BE C6 w0 .. w7 AA  (19 bytes; two rows of eight)
//   write           > BE 4D 01 09 AA  (UbatLow 26.5 × 10; write code = read code - 1)
//
// Status bits and lifetime counters have a named table each, below.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "state/device_state.h"
#include "state/models.h"

namespace zorvane {

// The families a variable belongs to, as a set.
enum class Families : uint8_t { Kx = 1, Qm = 2, Both = 3 };
bool has_family(Families set, Family family);

// What a value measures, for consumers that label it (charts, telemetry).
enum class Measure : uint8_t {
    Voltage,        // V
    Current,        // A
    ApparentPower,  // VA
    Temperature,    // °C
    Duration,       // the row's unit: s, min or d
    Count,          // plain number: factors, codes, raw converter counts
};

// How the wire value becomes the stored one.
enum class Conversion : uint8_t {
    Scaled,      // raw / scale, divided in double and stored as the quotient
    Thermistor,  // the 0x46 thermistor formula
    CaseSensor,  // the 0x47 linear sensor
};

// The tabs of the QM page's settings, in tab order.
enum class QmTab : int8_t {
    None = -1,
    Inverter = 0,
    MainsTransfer = 1,
    Charger = 2,
    Generator = 3
};

using TemperatureArray = std::array<std::atomic<double>, 8> DeviceState::*;

// The span a technician may set on a unit of one voltage class, in display
// units: values no bank or load of that class survives lie outside it.
struct Plausible {
    double low = 0;
    double high = 0;
    bool set() const { return high > low; }
    bool holds(double value) const { return !set() || (value >= low && value <= high); }
};

struct Variable {
    const char* name;  // the technician's name ("UbatLow"); a reading's is its key
    const char* key;   // the DeviceState field and poll JSON key ("set_ubat_low")
    Families families = Families::Both;
    Measure measure = Measure::Count;
    const char* unit = "";  // "V", "A", "VA", "°C", "s", "min", "d" or ""

    // The wire: read code, word of the reply (an array: its element count,
    // words 0 up), payload width in bytes (1 or 2), conversion and scale
    // (display units to wire units).
    uint8_t read_code = 0;
    uint8_t word = 0;
    uint8_t width = 2;
    Conversion conversion = Conversion::Scaled;
    int scale = 1;

    // Settings: the write code (0 for read-only values) and the largest
    // wire value the device accepts; a choice is picked from a list (0 up to
    // wire_max), not typed.
    uint8_t write_code = 0;
    uint16_t wire_max = 0;
    bool choice = false;
    // A setting that means nothing while this other setting is not 0: it is
    // then shown read-only and written by nobody.
    FloatField applies_while_zero = nullptr;

    // Where it is stored: one float, or an array of eight doubles.
    FloatField field = nullptr;
    TemperatureArray array = nullptr;

    // Shown as printf-style text in the C locale; the control that shows it
    // on each page (0: not shown there), an array's controls by index.
    const char* format = nullptr;
    int kx_control = 0;
    int qm_control = 0;
    QmTab qm_tab = QmTab::None;
    const char* qm_name = nullptr;  // the QM tab's caption name where it differs ("UrmsNom")
    const int* kx_each = nullptr;
    const int* qm_each = nullptr;

    // The simulated device's value at switch-on, in display units (an
    // array's by index).
    double sim24 = 0;
    double sim48 = 0;
    const double* sim_each = nullptr;

    // What a 24 V and a 48 V unit may be set to (unset: the wire range alone).
    Plausible range24{};
    Plausible range48{};

    const char* description = "";
    // The short English name a dashboard shows ("Battery low voltage"); an
    // array's is put after the name of each element's place ("Left inner
    // heat sink" + " temperature").
    const char* label = "";
    const char* const* each_place = nullptr;
    // A choice's entries by wire value, 0 up to wire_max.
    const char* const* options = nullptr;

    bool writable() const { return write_code != 0; }
    // Decimal places the value is shown with (its format's; 0 without one),
    // and those it is worth: more where the device keeps it finer than
    // shown (minutes of a day count).
    int decimals() const;
    int kept_decimals() const;
    bool is_array() const { return array != nullptr; }
    // The name a technician of `family` knows it by.
    const char* name_for(Family family) const {
        return family == Family::Qm && qm_name != nullptr ? qm_name : name;
    }
    double max_display() const { return static_cast<double>(wire_max) / scale; }
    // Whether the setting means something with the state's other values.
    bool applies(const DeviceState& state) const {
        return applies_while_zero == nullptr || (state.*applies_while_zero).load() == 0.0f;
    }
    // The span for a unit of `volts` (24 or 48); unset for any other class.
    Plausible plausible(int volts) const {
        return volts == 24 ? range24 : volts == 48 ? range48 : Plausible{};
    }
    // Whether the span differs between the two classes, so that a value can
    // only be judged once the unit's class is known.
    bool class_ranged() const { return range24.low != range48.low || range24.high != range48.high; }
    // Shown as a whole number though the device keeps it finer (RFloatTime:
    // days shown, minutes kept): the unit text after the number, else null.
    const char* whole_shown_suffix() const;
};

std::span<const Variable> variables();
// By technician's name (either page's) or key; null when unknown.
const Variable* find_variable(std::string_view name);
// The setting of `family` by its name on that family's page.
const Variable* find_setting_variable(std::string_view name, Family family);
// The setting shown by `control` on the given page.
const Variable* find_variable_by_control(int control, Family family);
// The row written by a write code, or null.
const Variable* find_written_variable(uint8_t write_code);

// The wire value that stores `display` (the inverse of the row's scaling),
// for Scaled rows.
uint16_t wire_value(const Variable& v, double display);

// Pairs of settings whose order is certain: `lower` below `upper` on every
// unit (the battery cut-off under the thresholds above it; each mains
// transfer threshold under its partner of the same direction).
struct SettingOrder {
    const char* lower;  // the technician's names
    const char* upper;
    Families families;
};
std::span<const SettingOrder> setting_orders();

// The voltage class of the polled unit as far as it is established: the
// battery readings of the search (g_battery_class) checked against the
// battery thresholds the unit holds (UbatLow, UbatMin and UbatMinOn in one
// class's span).
struct VoltageClass {
    int volts = 0;             // 24 or 48; 0 while not established
    int by_readings = 0;       // 24, 48, kClassReadingsDisagree or 0 (not told)
    int by_thresholds = 0;     // 24, 48 or 0 (not read yet, or in no one span)
    float readings[2] = {};    // the search's battery readings, volts
    float thresholds[3] = {};  // UbatLow, UbatMin, UbatMinOn as held
    bool established() const { return volts != 0; }
};
VoltageClass judge_voltage_class(const DeviceState& state);
// What stands against the class, naming both sides, in English or Russian:
// "battery read 48.7 V and 23.1 V" or "battery read 25.0 V (24 V), battery
// thresholds held 44.0/42.0/48.0 V (48 V)". Empty when established.
std::string class_doubt_text(const VoltageClass& judged, bool russian);

// Status bits: element `bit` of one of the five status arrays.
using StatusArray = StatusBits DeviceState::*;
struct StatusBit {
    const char* name;  // "generation"; unique within a family
    Family family;
    StatusArray array;
    int bit;
    const char* description;
    const char* label = nullptr;  // where the description is too long for a dashboard
    // What a set bit tells of the unit.
    enum class Meaning : uint8_t { State, Heat, Problem, BatteryLow, Power };
    Meaning meaning = Meaning::State;
};
std::span<const StatusBit> status_bits();
const StatusBit* find_status_bit(std::string_view name, Family family);

// The five status arrays, by the byte of the reply they hold.
struct StatusArrayRow {
    const char* key;  // poll JSON key
    Family family;
    int byte;  // 0 = s1
    StatusArray array;
};
std::span<const StatusArrayRow> status_arrays();

// Lifetime counters: one row per element of lifetime_counters. Offsets in
// the 0x53 reply follow from the widths, in table order from byte 2.
enum class CounterWire : uint8_t {
    Word16,    // 16-bit big-endian
    Word32,    // 32-bit big-endian
    BytePair,  // two bytes added together
};
enum class CounterForm : uint8_t {
    Number,    // "%d"
    Duration,  // seconds as days, hours, minutes and seconds
    Energy,    // volt-ampere hours
};
struct CounterDef {
    int index;            // element of lifetime_counters
    const char* name;     // "switch_ons"
    const char* caption;  // UTF-8, the device's own wording (typos included)
    int leader;           // full stops after the caption
    CounterForm form;
    CounterWire wire;
    Families families;
    const char* unit;  // "s", "VAh" or ""
    const char* description;
    bool space_before_leader = false;  // only row 3, after its "ВА"
};
// All 17 counters in index order; a KX device has only the first 16.
std::span<const CounterDef> counter_table();
int counter_offset(int index);  // first byte of counter `index` in the 0x53 reply
double counter_wire_max(const CounterDef& counter);

}  // namespace zorvane
