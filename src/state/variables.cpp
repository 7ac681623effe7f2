#include "state/variables.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace zorvane {

namespace {

using S = DeviceState;
using enum Families;
using enum Measure;
using enum QmTab;

constexpr const char* kVolts = "%.1f B";  // Latin B, A, BA, C stand for the Russian units
constexpr const char* kAmps = "%.2f A";
constexpr const char* kAmps1 = "%.1f A";
constexpr const char* kPower = "%.0f BA";
constexpr const char* kDegrees = "%.1f ° C";
constexpr const char* kMinutes = "%.0f мин";
constexpr const char* kDays = "%.0f сут.";
constexpr const char* kSeconds = "%.0f сек.";

// The thermistors of 0x46 by index: where each is shown on the two pages
// (the QM page has no place for the two lower outer heat sinks), and the
// simulated device's reading in °C.
constexpr int kKxThermistorControls[8] = {1048, 1046, 1052, 1047, 1045, 1049, 1053, 1050};
constexpr int kQmThermistorControls[8] = {0, 1126, 1129, 1132, 1127, 1131, 1128, 0};
constexpr double kSimThermistors[8] = {31.0, 34.0, 38.0, 36.0, 27.0, 28.0, 33.0, 29.0};
// Their places, as the pages name them.
constexpr const char* kThermistorPlaces[8] = {
    "Right lower outer heat sink", "Right upper outer heat sink", "Right inner heat sink",
    "Right transformer",           "Left upper outer heat sink",  "Left transformer",
    "Left inner heat sink",        "Left lower outer heat sink"};
// The generator's start modes, as the generator tab lists them.
constexpr const char* kStartModes[2] = {"On mains failure", "On battery discharge"};

// A live reading of the 0x41 reply.
constexpr Variable reading(const char* key, Measure measure, const char* unit, uint8_t word,
                           int scale, FloatField field, int kx, int qm, double sim24, double sim48,
                           const char* description) {
    return Variable{.name = key,
                    .key = key,
                    .families = Both,
                    .measure = measure,
                    .unit = unit,
                    .read_code = 0x41,
                    .word = word,
                    .width = 2,
                    .scale = scale,
                    .field = field,
                    .format = measure == Voltage   ? kVolts
                              : measure == Current ? kAmps
                                                   : kPower,
                    .kx_control = kx,
                    .qm_control = qm,
                    .sim24 = sim24,
                    .sim48 = sim48,
                    .description = description};
}

// A setting: read with `code`, written with `code - 1`, the full payload as
// its range.
constexpr Variable setting(const char* name, const char* key, Families families, Measure measure,
                           const char* unit, uint8_t code, int width, int scale, FloatField field,
                           const char* format, int kx, int qm, QmTab tab, double sim24,
                           double sim48, const char* description) {
    return Variable{.name = name,
                    .key = key,
                    .families = families,
                    .measure = measure,
                    .unit = unit,
                    .read_code = code,
                    .width = static_cast<uint8_t>(width),
                    .scale = scale,
                    .write_code = static_cast<uint8_t>(code - 1),
                    .wire_max = static_cast<uint16_t>(width == 1 ? 0xFF : 0xFFFF),
                    .field = field,
                    .format = format,
                    .kx_control = kx,
                    .qm_control = qm,
                    .qm_tab = tab,
                    .sim24 = sim24,
                    .sim48 = sim48,
                    .description = description};
}

constexpr Variable qm_named(const char* qm_name, Variable v) {
    v.qm_name = qm_name;
    return v;
}

constexpr Variable choice(uint16_t last, const char* const* options, Variable v) {
    v.choice = true;
    v.wire_max = last;
    v.options = options;
    return v;
}

// `Label{"Battery low voltage"} + setting(...)`: a row with its label.
struct Label {
    const char* text;
};
constexpr Variable operator+(Label label, Variable v) {
    v.label = label.text;
    return v;
}

// The spans a technician may set on a 24 V and on a 48 V unit.
constexpr Variable ranged(double low24, double high24, double low48, double high48, Variable v) {
    v.range24 = {low24, high24};
    v.range48 = {low48, high48};
    return v;
}
constexpr Variable ranged(double low, double high, Variable v) {
    return ranged(low, high, low, high, v);
}

// Battery thresholds: a 24 V bank (12 lead-acid or 8 lithium iron phosphate
// cells) is flat below 18 V (1.5 V a lead-acid cell) and gasses or is
// overcharged above 32 V; a 48 V bank has twice the cells. The two spans do
// not overlap, so the thresholds a unit holds tell its class.
constexpr double kBank24Low = 18.0;
constexpr double kBank24High = 32.0;
constexpr double kBank48Low = 36.0;
constexpr double kBank48High = 64.0;
constexpr Variable battery_threshold(Variable v) {
    return ranged(kBank24Low, kBank24High, kBank48Low, kBank48High, v);
}
// Output power: from a token load up to the largest rating of the class's
// models (24 V models up to 4000 VA, 48 V models up to 6000 VA).
constexpr Variable class_power(Variable v) {
    return ranged(100, 4000, 100, 6000, v);
}

constexpr Variable applies_while_zero(FloatField other, Variable v) {
    v.applies_while_zero = other;
    return v;
}

// In the order of the poll JSON: readings, settings, then the arrays.
// clang-format off
constexpr Variable kVariables[] = {
    Label{"Output voltage"} +
    reading("out_voltage", Voltage, "V", 0, 10, &S::out_voltage, 1020, 1029, 230.0, 230.0,
            "output voltage (RMS)"),
    Label{"Output current"} +
    reading("out_current", Current, "A", 1, 100, &S::out_current, 1022, 1030, 4.35, 4.35,
            "output current"),
    Label{"Output power"} +
    reading("out_power", ApparentPower, "VA", 2, 1, &S::out_power, 1023, 1033, 1000, 1000,
            "output apparent power"),
    Label{"Battery voltage"} +
    reading("bat_voltage", Voltage, "V", 3, 10, &S::bat_voltage, 1024, 1036, 26.4, 52.8,
            "battery voltage"),
    Variable{.name = "case_temperature", .key = "case_temperature", .families = Both,
             .measure = Temperature, .unit = "°C", .read_code = 0x47, .width = 2,
             .conversion = Conversion::CaseSensor, .field = &S::case_temperature,
             .format = kDegrees, .kx_control = 1051, .qm_control = 1133, .sim24 = 32.0,
             .sim48 = 32.0, .description = "temperature inside the case",
             .label = "Case temperature"},
    Variable{.name = "bat_temperature", .key = "bat_temperature", .families = Qm,
             .measure = Temperature, .unit = "°C", .read_code = 0x77, .width = 1,
             .field = &S::bat_temperature, .format = kDegrees, .qm_control = 1103,
             .sim24 = 25.0, .sim48 = 25.0, .description = "battery temperature",
             .label = "Battery temperature"},

    //      name            key                  families measure unit  read width scale field
    //      format    KX    QM    QM tab         sim 24 V  48 V
    Label{"Nominal output voltage"} +
    ranged(100.0, 250.0, qm_named("UrmsNom", setting("UoutNom", "set_uout_nom", Both, Voltage, "V", 0x4C, 2, 10,
            &S::set_uout_nom, kVolts, 1037, 1094, Inverter, 230.0, 230.0,
            "nominal output voltage; 100 to 250 V spans the mains standards (100 V to 240 V)"))),
    Label{"Battery low voltage"} +
    battery_threshold(setting("UbatLow", "set_ubat_low", Both, Voltage, "V", 0x4E, 2, 10,
            &S::set_ubat_low, kVolts, 1039, 1090, Inverter, 22.0, 44.0,
            "battery voltage that warns of a low battery; 18-32 V (24 V) or 36-64 V (48 V): "
            "a bank is flat below, overcharged above")),
    Label{"Battery cut-off voltage"} +
    battery_threshold(setting("UbatMin", "set_ubat_min", Both, Voltage, "V", 0x50, 2, 10,
            &S::set_ubat_min, kVolts, 1042, 1091, Inverter, 21.0, 42.0,
            "battery voltage that stops generation; 18-32 V (24 V) or 36-64 V (48 V): "
            "a bank is flat below, overcharged above")),
    Label{"Battery restart voltage"} +
    battery_threshold(setting("UbatMinOn", "set_ubat_min_on", Both, Voltage, "V", 0x40, 2, 10,
            &S::set_ubat_min_on, kVolts, 1041, 1092, Inverter, 24.0, 48.0,
            "battery voltage at which generation may start again; 18-32 V (24 V) or 36-64 V "
            "(48 V): a bank is flat below, overcharged above")),
    Label{"Maximum output power"} +
    class_power(setting("Pmax", "set_pmax", Both, ApparentPower, "VA", 0x52, 2, 1, &S::set_pmax,
            kPower, 1040, 1093, Inverter, 3000, 5000,
            "largest output power; 100 VA up to the class's largest rating (4000 VA for 24 V, "
            "6000 VA for 48 V)")),
    // Mains transfer: the lower threshold of each direction under its upper one.
    Label{"Low mains lower threshold"} +
    ranged(80.0, 240.0, setting("UrmslowL", "set_urms_low_l", Qm, Voltage, "V", 0x58, 2, 10,
            &S::set_urms_low_l, kVolts, 0, 1095, MainsTransfer, 170.0, 170.0,
            "lowest input RMS voltage kept, mains to batteries; 80-240 V: below the mains "
            "standards' low limits")),
    Label{"Low mains upper threshold"} +
    ranged(80.0, 240.0, setting("UrmslowH", "set_urms_low_h", Qm, Voltage, "V", 0x5A, 2, 10,
            &S::set_urms_low_h, kVolts, 0, 1096, MainsTransfer, 180.0, 180.0,
            "lowest input RMS voltage, batteries to mains; 80-240 V: below the mains "
            "standards' low limits")),
    Label{"High mains upper threshold"} +
    ranged(180.0, 300.0, setting("UrmshighH", "set_urms_high_h", Qm, Voltage, "V", 0x5C, 2, 10,
            &S::set_urms_high_h, kVolts, 0, 1097, MainsTransfer, 250.0, 250.0,
            "highest input RMS voltage kept, mains to batteries; 180-300 V: above the mains "
            "standards' high limits")),
    Label{"High mains lower threshold"} +
    ranged(180.0, 300.0, setting("UrmshighL", "set_urms_high_l", Qm, Voltage, "V", 0x5E, 2, 10,
            &S::set_urms_high_l, kVolts, 0, 1098, MainsTransfer, 245.0, 245.0,
            "highest input RMS voltage, batteries to mains; 180-300 V: above the mains "
            "standards' high limits")),
    Label{"Nominal charge current"} +
    ranged(1.0, 100.0, setting("IchrgNom", "set_ichrg_nom", Qm, Current, "A", 0x60, 2, 10,
            &S::set_ichrg_nom, kAmps1, 0, 1102, Charger, 20.0, 10.0,
            "nominal charge current; 1-100 A: the charger's span")),
    Label{"Absorption end factor"} +
    ranged(1, 100, setting("AbsEndFactor", "set_abs_end_factor", Qm, Count, "", 0x62, 1, 1,
            &S::set_abs_end_factor, "%.0f ", 0, 1084, Charger, 10, 10,
            "drop factor of the charge current that ends Absorption and starts Float; 1-100: "
            "0 would never end Absorption")),
    Label{"Absorption time limit"} +
    ranged(10, 1440, setting("AbsTime", "set_abs_time", Qm, Duration, "min", 0x64, 2, 1,
            &S::set_abs_time, kMinutes, 0, 1086, Charger, 120, 120,
            "longest Absorption stage; 10 min to a day: longer overcharges the bank")),
    Label{"Float time"} +
    ranged(10, 10080, setting("FloatTime", "set_float_time", Qm, Duration, "min", 0x66, 2, 1,
            &S::set_float_time, kMinutes, 0, 1099, Charger, 480, 480,
            "length of the Float stage; 10 min to a week")),
    Label{"Repeated float interval"} +
    ranged(1, 180, setting("RFloatTime", "set_rfloat_time", Qm, Duration, "d", 0x68, 2, 1440,
            &S::set_rfloat_time, kDays, 0, 1100, Charger, 7, 7,
            "interval of the repeated Float charge (kept in minutes by the device); 1 to 180 "
            "days: a standing bank self-discharges in longer")),
    Label{"Repeated absorption time"} +
    ranged(1, 1440, setting("RAbsTime", "set_rabs_time", Qm, Duration, "min", 0x6A, 2, 1,
            &S::set_rabs_time, kMinutes, 0, 1101, Charger, 30, 30,
            "length of the repeated Absorption stage; 1 min to a day")),
    Label{"Generator type"} +
    setting("EGenType", "set_egen_type", Qm, Count, "", 0x6C, 1, 1, &S::set_egen_type,
            "%.0f", 0, 1126, Generator, 1, 1, "external generator type (a device code)"),
    Label{"Generator start mode"} +
    choice(1, kStartModes,
           setting("EGenUbat", "set_egen_ubat", Qm, Count, "", 0x6E, 1, 1, &S::set_egen_ubat,
            "%.0f", 0, 1088, Generator, 0, 0,
            "external generator start: 0 on mains failure, 1 on battery discharge")),
    // Started on battery discharge, the generator has no start delay.
    Label{"Generator start delay"} +
    ranged(0, 3600, applies_while_zero(&S::set_egen_ubat, setting("EGenOnTime",
            "set_egen_on_time", Qm, Duration, "s", 0x70, 2, 1, &S::set_egen_on_time, kSeconds, 0,
            1082, Generator, 60, 60,
            "delay from a mains failure to the generator start; up to an hour on batteries"))),
    Label{"Generator maximum power"} +
    class_power(setting("EGenPmax", "set_egen_pmax", Qm, ApparentPower, "VA", 0x72, 2, 1,
            &S::set_egen_pmax, kPower, 0, 1080, Generator, 2000, 4000,
            "largest power drawn from the external generator; 100 VA up to the class's largest "
            "rating (4000 VA for 24 V, 6000 VA for 48 V)")),
    Label{"Generator training interval"} +
    ranged(0, 90, setting("EGenSleep", "set_egen_sleep", Qm, Duration, "d", 0x74, 1, 1,
            &S::set_egen_sleep, kDays, 0, 1081, Generator, 7, 7,
            "interval between generator training runs; up to 90 days, a generator left longer "
            "may not start")),
    Label{"Generator training run length"} +
    ranged(0, 3600, setting("EGenWork", "set_egen_work", Qm, Duration, "s", 0x76, 2, 1,
            &S::set_egen_work, kSeconds, 0, 1083, Generator, 20, 20,
            "length of a generator training run; 0 switches training runs off; up to an hour")),

    Variable{.name = "temp_raw", .key = "temp_raw", .families = Both, .measure = Count,
             .unit = "", .read_code = 0x46, .word = 8, .width = 2, .scale = 1,
             .array = &S::temp_raw, .description = "raw thermistor readings, converter counts",
             .label = "thermistor count", .each_place = kThermistorPlaces},
    Variable{.name = "temperatures", .key = "temperatures", .families = Both,
             .measure = Temperature, .unit = "°C", .read_code = 0x46, .word = 8, .width = 2,
             .conversion = Conversion::Thermistor, .array = &S::temperatures,
             .format = kDegrees, .kx_each = kKxThermistorControls,
             .qm_each = kQmThermistorControls, .sim_each = kSimThermistors,
             .description = "heat sink and transformer temperatures",
             .label = "temperature", .each_place = kThermistorPlaces},
};
// clang-format on

// The mains transfer tab pairs its thresholds by column: UrmslowL and
// UrmshighH bound the mains to batteries transfer, UrmslowH and UrmshighL the
// return; their names alone would pair them wrongly.
constexpr SettingOrder kOrders[] = {
    {"UbatMin", "UbatLow", Both},
    {"UbatMin", "UbatMinOn", Both},
    {"UrmslowL", "UrmshighH", Qm},
    {"UrmslowH", "UrmshighL", Qm},
};

constexpr StatusBit kStatusBits[] = {
    {"three_phase_slave", Family::Kx, &S::kx_status1, 0, "three-phase mode, slave"},
    {"parallel_slave", Family::Kx, &S::kx_status1, 1, "parallel mode, slave"},
    {"generation", Family::Kx, &S::kx_status1, 2, "generation on"},
    {"overheat", Family::Kx, &S::kx_status1, 3, "overheat", "Overheat", StatusBit::Meaning::Heat},
    {"overload", Family::Kx, &S::kx_status2, 3, "overload", "Overload",
     StatusBit::Meaning::Problem},
    {"battery_low", Family::Kx, &S::kx_status2, 4, "battery low", "Battery low",
     StatusBit::Meaning::BatteryLow},
    // The mode bits sit the other way about than on a KX device.
    {"parallel_slave", Family::Qm, &S::qm_status1, 0, "parallel mode, slave"},
    {"three_phase_slave", Family::Qm, &S::qm_status1, 1, "three-phase mode, slave"},
    {"generation", Family::Qm, &S::qm_status1, 2, "generation on"},
    {"overheat", Family::Qm, &S::qm_status1, 3, "overheat", "Overheat", StatusBit::Meaning::Heat},
    {"source_present", Family::Qm, &S::qm_status1, 6, "an input source is present",
     "Input source present", StatusBit::Meaning::Power},
    {"source_generator", Family::Qm, &S::qm_status1, 7,
     "the input source is the external generator", "Input from the generator"},
    {"overload", Family::Qm, &S::qm_status2, 3, "overload", "Overload",
     StatusBit::Meaning::Problem},
    {"battery_low", Family::Qm, &S::qm_status2, 4, "battery low", "Battery low",
     StatusBit::Meaning::BatteryLow},
    {"bulk", Family::Qm, &S::qm_status2, 5, "charging stage BULK"},
    {"absorption", Family::Qm, &S::qm_status2, 6, "charging stage ABSORPTION"},
    {"float", Family::Qm, &S::qm_status2, 7, "charging stage FLOAT"},
};

constexpr StatusArrayRow kStatusArrays[] = {
    {"kx_status1", Family::Kx, 0, &S::kx_status1}, {"kx_status2", Family::Kx, 1, &S::kx_status2},
    {"qm_status1", Family::Qm, 0, &S::qm_status1}, {"qm_status2", Family::Qm, 1, &S::qm_status2},
    {"qm_status3", Family::Qm, 2, &S::qm_status3},
};

using enum CounterWire;

// Captions are the device's own texts, kept letter for letter: row 0 lacks the
// second "е" of "Количество", and "ВА" of row 3 is Cyrillic.
// clang-format off
constexpr std::array<CounterDef, kCounterCount> kCounters{{
    {0, "switch_ons", "Количство включений", 68, CounterForm::Number, Word16, Both, "",
     "times the device was switched on"},
    {1, "operating_time", "Полная наработка", 73, CounterForm::Duration, Word32, Both, "s",
     "total running time"},
    {2, "generating_time", "Наработка в режиме генерации", 56, CounterForm::Duration, Word32, Both, "s",
     "running time in generation"},
    {3, "high_power_time", "Наработка при отдаваемой мощности более 3000 ВА", 29, CounterForm::Duration,
     Word32, Both, "s", "running time above 3000 VA", true},
    {4, "fan_time", "Наработка вентиляторов", 64, CounterForm::Duration, Word32, Both, "s",
     "running time of the fans"},
    {5, "energy", "Сгенерированная энергия", 63, CounterForm::Energy, Word32, Both, "VAh",
     "energy generated"},
    {6, "overcurrent_shutdowns", "Количество аппаратных отключений из-за перегрузки по току", 15,
     CounterForm::Number, Word16, Both, "", "hardware shutdowns on overcurrent"},
    {7, "excess_power_shutdowns", "Количество программных отключений из-за превышения мощности",
     10, CounterForm::Number, Word16, Both, "", "software shutdowns on excess power"},
    {8, "transformer_overheats", "Количество перегревов трансформаторов", 42, CounterForm::Number, Word16,
     Both, "", "transformer overheats"},
    {9, "heatsink_overheats", "Количество перегревов радиаторов", 50, CounterForm::Number, Word16, Both, "",
     "heat-sink overheats"},
    {10, "inside_too_hot", "Количество превышений внутренней температуры", 31, CounterForm::Number, BytePair,
     Both, "", "inside temperature above its limit"},
    {11, "inside_too_cold", "Количество понижений ниже мин. предела внутренней температуры", 8,
     CounterForm::Number, BytePair, Both, "", "inside temperature below its lower limit"},
    {12, "battery_undervoltages", "Количество понижений напряжения на батарее", 35, CounterForm::Number,
     BytePair, Both, "", "battery undervoltages"},
    {13, "battery_overvoltages", "Количество повышений напряжения на батарее", 35, CounterForm::Number,
     BytePair, Both, "", "battery overvoltages"},
    {14, "fault_shutdowns", "Количество выключений при обнаружении внутренней неисправности", 6,
     CounterForm::Number, BytePair, Both, "", "shutdowns on an internal fault"},
    {15, "fatal_errors", "Количество фатальных ошибок", 56, CounterForm::Number, BytePair, Both, "",
     "fatal errors"},
    {16, "mains_to_battery", "Количество переходов с сети на батарею", 43, CounterForm::Number, BytePair, Qm,
     "", "transfers from mains to battery"},
}};
// clang-format on

}  // namespace

bool has_family(Families set, Family family) {
    return (static_cast<int>(set) & static_cast<int>(family)) != 0;
}

int Variable::decimals() const {
    const char* dot = format != nullptr ? std::strchr(format, '.') : nullptr;
    return dot != nullptr && dot[1] >= '0' && dot[1] <= '9' ? dot[1] - '0' : 0;
}

int Variable::kept_decimals() const {
    int places = decimals();
    for (double step = std::pow(10.0, places); step < scale; step *= 10) {
        ++places;
    }
    return places;
}

const char* Variable::whole_shown_suffix() const {
    constexpr const char* kWhole = "%.0f";
    if (format == nullptr || scale <= 1 || std::strncmp(format, kWhole, 4) != 0) {
        return nullptr;
    }
    return format + 4;
}

std::span<const Variable> variables() {
    return kVariables;
}

const Variable* find_variable(std::string_view name) {
    for (const Variable& v : kVariables) {
        if (name == v.name || name == v.key || (v.qm_name != nullptr && name == v.qm_name)) {
            return &v;
        }
    }
    return nullptr;
}

const Variable* find_setting_variable(std::string_view name, Family family) {
    for (const Variable& v : kVariables) {
        if (v.writable() && has_family(v.families, family) && name == v.name_for(family)) {
            return &v;
        }
    }
    return nullptr;
}

const Variable* find_variable_by_control(int control, Family family) {
    for (const Variable& v : kVariables) {
        const int id = family == Family::Kx ? v.kx_control : v.qm_control;
        if (id != 0 && id == control) {
            return &v;
        }
    }
    return nullptr;
}

const Variable* find_written_variable(uint8_t write_code) {
    for (const Variable& v : kVariables) {
        if (v.writable() && v.write_code == write_code) {
            return &v;
        }
    }
    return nullptr;
}

uint16_t wire_value(const Variable& v, double display) {
    return static_cast<uint16_t>(std::lround(std::fmax(display * v.scale, 0.0)));
}

std::span<const SettingOrder> setting_orders() {
    return kOrders;
}

namespace {

constexpr FloatField kThresholds[] = {&S::set_ubat_low, &S::set_ubat_min, &S::set_ubat_min_on};

// The class whose span holds every battery threshold, or 0.
int class_of_thresholds(const DeviceState& state) {
    const Variable* low = find_variable("UbatLow");
    for (const int volts : {24, 48}) {
        bool all = true;
        for (const FloatField field : kThresholds) {
            const double value = (state.*field).load();
            all = all && low->plausible(volts).holds(value);
        }
        if (all) {
            return volts;
        }
    }
    return 0;
}

std::string volts_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

VoltageClass judge_voltage_class(const DeviceState& state) {
    VoltageClass judged;
    judged.by_readings = state.g_battery_class.load();
    judged.readings[0] = state.g_battery_readings[0].load();
    judged.readings[1] = state.g_battery_readings[1].load();
    for (size_t i = 0; i < std::size(kThresholds); ++i) {
        judged.thresholds[i] = (state.*kThresholds[i]).load();
    }
    // Thresholds not read yet are zero, in no class's span.
    judged.by_thresholds = class_of_thresholds(state);
    const int readings = judged.by_readings;
    const int thresholds = judged.by_thresholds;
    if (readings == kClassReadingsDisagree ||
        (readings != 0 && thresholds != 0 && readings != thresholds)) {
        return judged;
    }
    judged.volts = readings != 0 ? readings : thresholds;
    return judged;
}

std::string class_doubt_text(const VoltageClass& judged, bool russian) {
    if (judged.established()) {
        return {};
    }
    const std::string first = volts_text(judged.readings[0]);
    const std::string second = volts_text(judged.readings[1]);
    if (judged.by_readings == kClassReadingsDisagree) {
        return russian ? "напряжение батареи прочитано как " + first + " В и " + second + " В"
                       : "the battery read " + first + " V and " + second + " V";
    }
    const std::string held = volts_text(judged.thresholds[0]) + "/" +
                             volts_text(judged.thresholds[1]) + "/" +
                             volts_text(judged.thresholds[2]);
    if (judged.by_readings != 0 && judged.by_thresholds != 0) {
        const std::string reading_class = std::to_string(judged.by_readings);
        const std::string held_class = std::to_string(judged.by_thresholds);
        return russian ? "напряжение батареи " + second + " В (класс " + reading_class +
                             " В), а пороги UbatLow/UbatMin/UbatMinOn в устройстве " + held +
                             " В (класс " + held_class + " В)"
                       : "the battery reads " + second + " V (" + reading_class +
                             " V class) but the unit holds UbatLow/UbatMin/UbatMinOn " + held +
                             " V (" + held_class + " V class)";
    }
    return russian ? "ни показания батареи, ни её пороги не указывают класс напряжения"
                   : "neither the battery readings nor the battery thresholds tell the voltage "
                     "class";
}

std::span<const StatusBit> status_bits() {
    return kStatusBits;
}

const StatusBit* find_status_bit(std::string_view name, Family family) {
    for (const StatusBit& b : kStatusBits) {
        if (b.family == family && name == b.name) {
            return &b;
        }
    }
    return nullptr;
}

std::span<const StatusArrayRow> status_arrays() {
    return kStatusArrays;
}

std::span<const CounterDef> counter_table() {
    return kCounters;
}

namespace {
int wire_bytes(CounterWire wire) {
    return wire == Word32 ? 4 : 2;
}
}  // namespace

int counter_offset(int index) {
    int offset = 2;
    for (int k = 0; k < index && k < kCounterCount; ++k) {
        offset += wire_bytes(kCounters[static_cast<size_t>(k)].wire);
    }
    return offset;
}

double counter_wire_max(const CounterDef& counter) {
    switch (counter.wire) {
        case Word16:
            return 65535.0;
        case Word32:
            return 2147483647.0;  // what the tool's signed counters hold
        case BytePair:
            break;
    }
    return 510.0;
}

}  // namespace zorvane
