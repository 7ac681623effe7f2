#include "app/monitor/published_values.h"

namespace zorvane::monitor {

namespace {

constexpr const char* kGenerationBit = "generation";

bool given(const char* text) {
    return text != nullptr && *text != '\0';
}

// A dashboard name from the registry: the row's label, else its description
// as a name ("Times the device was switched on"), else the value's name.
std::string label_of(const char* label, const char* description, const std::string& name) {
    std::string out = given(label) ? label : given(description) ? description : name;
    if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') {
        out[0] = static_cast<char>(out[0] - 'a' + 'A');
    }
    return out;
}

PublishedValue single(const Variable& v, Family family) {
    PublishedValue value;
    value.name = v.name_for(family);
    value.label = label_of(v.label, v.description, value.name);
    value.json_path = v.key;
    value.unit = v.unit;
    value.has_measure = true;
    value.measure = v.measure;
    value.decimals = v.kept_decimals();
    if (!v.writable()) {
        return value;
    }
    value.kind = ValueKind::Setting;
    value.setting = find_setting(value.name, family);
    const NumberRange range = number_range(v);
    value.min = range.min;
    value.max = range.max;
    value.step = range.step;
    for (int i = 0; v.options != nullptr && i <= v.wire_max; ++i) {
        value.options.emplace_back(v.options[i]);
    }
    return value;
}

std::string status_path(const StatusBit& bit) {
    for (const StatusArrayRow& row : status_arrays()) {
        if (row.array == bit.array) {
            return std::string(row.key) + "[" + std::to_string(bit.bit) + "]";
        }
    }
    return {};
}

}  // namespace

NumberRange number_range(const Variable& v, int volts) {
    NumberRange range;
    range.max = v.max_display();
    if (const Plausible span = v.plausible(volts); span.set()) {
        range.min = span.low;
        range.max = span.high;
    }
    // A field shown in whole units (days) takes whole units.
    range.step = v.whole_shown_suffix() != nullptr ? 1.0 : 1.0 / v.scale;
    return range;
}

std::vector<PublishedValue> published_values(Family family) {
    std::vector<PublishedValue> out;
    for (const Variable& v : variables()) {
        if (!has_family(v.families, family)) {
            continue;
        }
        if (!v.is_array()) {
            out.push_back(single(v, family));
            continue;
        }
        const size_t elements = (DeviceState{}.*v.array).size();
        for (size_t i = 0; i < elements; ++i) {
            PublishedValue value;
            value.name = std::string(v.key) + "_" + std::to_string(i);
            value.label = v.each_place != nullptr ? std::string(v.each_place[i]) + " " + v.label
                                                  : label_of(v.label, v.description, v.key) + " " +
                                                        std::to_string(i + 1);
            value.json_path = std::string(v.key) + "[" + std::to_string(i) + "]";
            value.unit = v.unit;
            value.has_measure = true;
            value.measure = v.measure;
            value.decimals = v.kept_decimals();
            value.raw = v.measure == Measure::Count;
            out.push_back(std::move(value));
        }
    }
    for (const CounterDef& counter : counter_table()) {
        if (!has_family(counter.families, family)) {
            continue;
        }
        PublishedValue value;
        value.name = counter.name;
        value.label = label_of(nullptr, counter.description, value.name);
        value.kind = ValueKind::Counter;
        value.json_path = "lifetime_counters[" + std::to_string(counter.index) + "]";
        value.unit = counter.unit;
        // Energy counts volt-ampere hours: no energy class takes that unit.
        value.has_measure = counter.form != CounterForm::Energy;
        value.measure = counter.form == CounterForm::Duration ? Measure::Duration : Measure::Count;
        out.push_back(std::move(value));
    }
    for (const StatusBit& bit : status_bits()) {
        if (bit.family != family) {
            continue;
        }
        PublishedValue value;
        value.name = bit.name;
        value.label = label_of(bit.label, bit.description, value.name);
        value.meaning = bit.meaning;
        value.kind = ValueKind::StatusBit;
        value.json_path = status_path(bit);
        out.push_back(std::move(value));
    }
    return out;
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

std::string generation_path(Family family) {
    const StatusBit* bit = find_status_bit(kGenerationBit, family);
    return bit != nullptr ? status_path(*bit) : std::string();
}

bool generation_on(const DeviceState& state, Family family) {
    const StatusBit* bit = find_status_bit(kGenerationBit, family);
    return bit != nullptr && (state.*bit->array)[static_cast<size_t>(bit->bit)].load() != 0;
}

}  // namespace zorvane::monitor
