#include "app/monitor/published_values.h"

#include <cmath>
#include <span>
#include <string_view>

#include "app/cli/state_json.h"
#include "counters/counter_format.h"

namespace zorvane::monitor {

namespace {

// Units and classes by the stored field, until the device tables carry them.
struct FieldFacts {
    FloatField field;
    const char* unit;
    Quantity quantity;
};
using S = DeviceState;
using Q = Quantity;
constexpr FieldFacts kFieldFacts[] = {
    {&S::out_voltage, "V", Q::Voltage},           {&S::out_current, "A", Q::Current},
    {&S::out_power, "VA", Q::ApparentPower},      {&S::bat_voltage, "V", Q::Voltage},
    {&S::case_temperature, "°C", Q::Temperature}, {&S::bat_temperature, "°C", Q::Temperature},
    {&S::set_uout_nom, "V", Q::Voltage},          {&S::set_ubat_low, "V", Q::Voltage},
    {&S::set_ubat_min, "V", Q::Voltage},          {&S::set_ubat_min_on, "V", Q::Voltage},
    {&S::set_pmax, "VA", Q::ApparentPower},       {&S::set_urms_low_l, "V", Q::Voltage},
    {&S::set_urms_low_h, "V", Q::Voltage},        {&S::set_urms_high_h, "V", Q::Voltage},
    {&S::set_urms_high_l, "V", Q::Voltage},       {&S::set_ichrg_nom, "A", Q::Current},
    {&S::set_abs_time, "min", Q::Duration},       {&S::set_float_time, "min", Q::Duration},
    {&S::set_rfloat_time, "d", Q::Duration},      {&S::set_rabs_time, "min", Q::Duration},
    {&S::set_egen_pmax, "VA", Q::ApparentPower},  {&S::set_egen_sleep, "d", Q::Duration},
};

const FieldFacts* facts_of(FloatField field) {
    for (const FieldFacts& facts : kFieldFacts) {
        if (facts.field == field) {
            return &facts;
        }
    }
    return nullptr;
}

PublishedValue reading(FloatField field) {
    PublishedValue value;
    value.name = cli::state_json_key(field);
    value.json_path = value.name;
    if (const FieldFacts* facts = facts_of(field)) {
        value.unit = facts->unit;
        value.quantity = facts->quantity;
    }
    return value;
}

}  // namespace

std::vector<PublishedValue> published_values(int family) {
    const bool kx = family == 1;
    std::vector<PublishedValue> out;
    for (FloatField field :
         {&S::out_voltage, &S::out_current, &S::out_power, &S::bat_voltage, &S::case_temperature}) {
        out.push_back(reading(field));
    }
    if (!kx) {
        out.push_back(reading(&S::bat_temperature));
    }
    for (const SettingParam& param : setting_params()) {
        if ((param.page == SettingPage::Kx) != kx) {
            continue;
        }
        PublishedValue value = reading(param.field);
        value.name = param.name;
        value.kind = ValueKind::Setting;
        value.setting = &param;
        value.max = setting_max_display(param);
        // A field shown in whole units (days) takes whole units.
        value.step = param.whole_shown_suffix != nullptr ? 1.0 : 1.0 / param.scale;
        out.push_back(std::move(value));
    }
    for (const CounterDef& counter : counter_table()) {
        if (kx && counter.index >= kCounterCount - 1) {
            continue;  // the KX counters reply is one counter shorter
        }
        PublishedValue value;
        value.name = "counter_" + std::to_string(counter.index);
        value.kind = ValueKind::Counter;
        value.json_path = "lifetime_counters[" + std::to_string(counter.index) + "]";
        if (counter.form == CounterForm::Duration) {
            value.unit = "s";
            value.quantity = Quantity::Duration;
        } else if (counter.form == CounterForm::Energy) {
            value.unit = "VAh";
        } else {
            value.quantity = Quantity::Count;
        }
        out.push_back(std::move(value));
    }
    static constexpr const char* kKxStatus[] = {"kx_status1", "kx_status2"};
    static constexpr const char* kQmStatus[] = {"qm_status1", "qm_status2", "qm_status3"};
    for (const char* status :
         kx ? std::span<const char* const>(kKxStatus) : std::span<const char* const>(kQmStatus)) {
        for (int bit = 0; bit < 8; ++bit) {
            PublishedValue value;
            value.name = std::string(status) + "_" + std::to_string(bit);
            value.kind = ValueKind::StatusBit;
            value.json_path = std::string(status) + "[" + std::to_string(bit) + "]";
            out.push_back(std::move(value));
        }
    }
    return out;
}

std::string generation_path(int family) {
    return family == 1 ? "kx_status1[2]" : "qm_status1[2]";
}

const PublishedValue* find_published(const std::vector<PublishedValue>& values,
                                     const std::string& name) {
    for (const PublishedValue& value : values) {
        if (value.name == name) {
            return &value;
        }
    }
    return nullptr;
}

}  // namespace zorvane::monitor
