// The registry's own consistency: what a new row could get wrong without any
// golden trace noticing (the traces only cover the rows that exist today).
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "device/setting_write.h"
#include "link/reply_catalogue.h"
#include "state/models.h"
#include "state/variables.h"

namespace zorvane {
namespace {

TEST(Registry, NamesKeysControlsAndCodesAreEachUsedOnce) {
    std::set<std::string> keys;
    std::set<std::pair<Family, std::string>> names;
    std::set<std::pair<Family, int>> controls;
    std::set<int> write_codes;
    for (const Variable& v : variables()) {
        SCOPED_TRACE(v.key);
        EXPECT_TRUE(keys.insert(v.key).second);
        EXPECT_EQ(v.is_array(), v.field == nullptr) << "one place to store it";
        EXPECT_GE(v.scale, 1);
        for (const Family f : {Family::Kx, Family::Qm}) {
            if (!has_family(v.families, f)) {
                EXPECT_EQ(f == Family::Kx ? v.kx_control : v.qm_control, 0)
                    << "shown on a page of a family that does not have it";
                continue;
            }
            EXPECT_TRUE(names.insert({f, v.name_for(f)}).second);
            const int control = f == Family::Kx ? v.kx_control : v.qm_control;
            if (control != 0) {
                EXPECT_TRUE(controls.insert({f, control}).second) << control;
                EXPECT_EQ(find_variable_by_control(control, f), &v);
            }
        }
        if (v.writable()) {
            // The write code is the read code minus one, and never a read.
            EXPECT_EQ(v.write_code + 1, v.read_code);
            EXPECT_EQ(find_reply(v.write_code), nullptr);
            EXPECT_TRUE(write_codes.insert(v.write_code).second);
            EXPECT_EQ(v.wire_max, v.choice ? 1 : v.width == 1 ? 0xFF : 0xFFFF);
            EXPECT_EQ(find_written_variable(v.write_code), &v);
            for (const Family f : {Family::Kx, Family::Qm}) {
                if (has_family(v.families, f)) {
                    EXPECT_EQ(find_setting_variable(v.name_for(f), f), &v);
                }
            }
        }
    }
    EXPECT_EQ(write_codes.size(), 21u);
    // The generator tab's list and check box write registry settings.
    EXPECT_EQ(find_written_variable(kEGenUbatWrite), find_variable("EGenUbat"));
    EXPECT_EQ(find_written_variable(kEGenWorkWrite), find_variable("EGenWork"));
    EXPECT_STREQ(find_setting_variable("UrmsNom", Family::Qm)->name, "UoutNom");
    EXPECT_EQ(find_setting_variable("UrmsNom", Family::Kx), nullptr);
    EXPECT_EQ(find_setting_variable("IchrgNom", Family::Kx), nullptr);
}

TEST(Registry, SimulatedDefaultsFitTheirPayloadAndAreStoredExactly) {
    for (const Variable& v : variables()) {
        if (v.conversion != Conversion::Scaled || v.is_array()) {
            continue;
        }
        for (const double display : {v.sim24, v.sim48}) {
            const double wire = display * v.scale;
            EXPECT_LE(wire, v.width == 1 ? 255.0 : 65535.0) << v.key;
            EXPECT_NEAR(wire_value(v, display), wire, 1e-6) << v.key << " has no exact wire value";
        }
    }
}

TEST(Registry, OnlyTheCoarselyShownSettingHasAWholeShownSuffix) {
    for (const Variable& v : variables()) {
        const char* suffix = v.whole_shown_suffix();
        if (std::string(v.name) == "RFloatTime") {
            ASSERT_NE(suffix, nullptr);
            EXPECT_STREQ(suffix, " сут.");
        } else {
            EXPECT_EQ(suffix, nullptr) << v.name;
        }
    }
}

TEST(Registry, CountersFillTheirReplyUpToTheEndByte) {
    // The last counter of each form ends right before the closing 0xAA.
    const auto counters = counter_table();
    EXPECT_EQ(counter_offset(15) + 2, kCountersKxLength - 1);
    EXPECT_EQ(counter_offset(16) + 2, kCountersQmLength - 1);
    for (const CounterDef& c : counters) {
        EXPECT_EQ(has_family(c.families, Family::Kx), c.index < 16) << c.name;
    }
}

TEST(Registry, ModelProfilesAgreeWithTheirFamily) {
    for (const ModelProfile& m : model_profiles()) {
        EXPECT_EQ(find_model(m.name), m.model);
        EXPECT_EQ(&model_profile(m.model), &m);
        EXPECT_EQ(m.profile().family, m.family);
        for (const PollStep& step : m.profile().steps) {
            if (step.kind == PollStep::Kind::Read) {
                ASSERT_NE(find_reply(step.code), nullptr) << int(step.code);
                // A pass asks only for what the family has.
                for (const Variable* v : find_reply(step.code)->variables) {
                    EXPECT_TRUE(has_family(v->families, m.family)) << m.name << " " << v->key;
                }
            }
        }
    }
    // And every variable of a family is asked for by that family's pass.
    for (const Variable& v : variables()) {
        for (const Family f : {Family::Kx, Family::Qm}) {
            const auto steps = family_profile(f).steps;
            const bool asked = std::any_of(steps.begin(), steps.end(), [&v](const PollStep& s) {
                return s.kind == PollStep::Kind::Read && s.code == v.read_code;
            });
            EXPECT_EQ(asked, has_family(v.families, f)) << v.key;
        }
    }
    EXPECT_EQ(family_of_kind(1), Family::Kx);
    EXPECT_EQ(family_of_kind(2), Family::Qm);
    EXPECT_EQ(family_of_kind(0), Family::None);
}

// The spans are for values no unit of the class survives, not for taste:
// every simulated device's defaults lie inside them and keep every order,
// and the battery threshold spans of the two classes do not meet, so the
// thresholds a unit holds tell its class.
TEST(Registry, EverySimulatedDefaultIsWritableWithoutOverride) {
    for (const ModelProfile& model : model_profiles()) {
        const int volts = model.battery_volts;
        DeviceState state;
        for (const Variable& v : variables()) {
            if (!v.writable() || !has_family(v.families, model.family))
                continue;
            const double value = volts == 24 ? v.sim24 : v.sim48;
            EXPECT_TRUE(v.plausible(volts).holds(value)) << model.name << " " << v.name;
            (state.*v.field).store(static_cast<float>(value));
        }
        for (const SettingOrder& order : setting_orders()) {
            if (!has_family(order.families, model.family))
                continue;
            const Variable* lower = find_setting_variable(order.lower, model.family);
            const Variable* upper = find_setting_variable(order.upper, model.family);
            ASSERT_TRUE(lower && upper) << order.lower << " " << order.upper;
            EXPECT_LT((state.*lower->field).load(), (state.*upper->field).load()) << model.name;
        }
        state.g_battery_class.store(volts);
        EXPECT_EQ(judge_voltage_class(state).volts, volts) << model.name;
    }
    const Variable& low = *find_variable("UbatLow");
    EXPECT_LT(low.range24.high, low.range48.low);
    EXPECT_TRUE(low.plausible(24).holds(26.5));  // typed on a KX-24 holding 24.0
}

}  // namespace
}  // namespace zorvane
