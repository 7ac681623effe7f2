#include "app/cli/state_json.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zorvane {
namespace {

TEST(StateJson, EveryFieldUnderItsNameWithNaNAsNull) {
    DeviceState state;
    state.g_values_read.store(1);
    state.g_last_answer_ms.store(1796905471250);  // 2026-12-10 12:24:31.250 UTC
    state.g_com_port.store(3);
    state.g_device_kind.store(2);
    state.set_ubat_low.store(26.5f);
    state.set_egen_work.store(20.0f);
    state.temp_raw[0].store(682);
    state.temperatures[0].store(24.983513379786814);
    state.temperatures[1].store(std::nan(""));
    state.qm_status1[2].store(1);
    CounterValues counters{};
    counters[16] = 510;
    state.lifetime_counters.publish(counters);

    const std::string json = cli::device_state_json(state);
    EXPECT_EQ(json.front(), '{');
    EXPECT_EQ(json.back(), '}');
    for (const char* part : {
             "\"g_com_port\":3,",
             "\"g_device_kind\":2,",
             "\"current\":true,",
             "\"last_answer\":\"2026-12-10T12:24:31.250Z\",",
             "\"set_ubat_low\":26.5,",
             "\"set_egen_work\":20,",
             "\"temp_raw\":[682,0,0,0,0,0,0,0]",
             "\"temperatures\":[24.983513379786814,null,0,0,0,0,0,0]",
             "\"qm_status1\":[0,0,1,0,0,0,0,0]",
             "\"lifetime_counters\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,510]}",
         }) {
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    }
    for (const char* name :
         {"out_voltage",      "out_current",     "out_power",        "bat_voltage",
          "case_temperature", "bat_temperature", "set_uout_nom",     "set_ubat_min",
          "set_ubat_min_on",  "set_pmax",        "set_urms_low_l",   "set_urms_low_h",
          "set_urms_high_h",  "set_urms_high_l", "set_ichrg_nom",    "set_abs_end_factor",
          "set_abs_time",     "set_float_time",  "set_rfloat_time",  "set_rabs_time",
          "set_egen_type",    "set_egen_ubat",   "set_egen_on_time", "set_egen_pmax",
          "set_egen_sleep",   "kx_status1",      "kx_status2",       "qm_status2",
          "qm_status3"}) {
        EXPECT_NE(json.find("\"" + std::string(name) + "\":"), std::string::npos) << name;
    }
    EXPECT_EQ(json.find("nan"), std::string::npos);
}

TEST(StateJson, ValuesThatAreNotCurrentAreNull) {
    DeviceState state;
    state.set_ubat_low.store(26.5f);
    state.qm_status1[2].store(1);
    // Never read, then read but no longer answering: the old values are not
    // repeated either way.
    for (const bool read_before : {false, true}) {
        state.g_values_read.store(read_before ? 1 : 0);
        state.g_device_answering.store(read_before ? 0 : 1);
        state.g_last_answer_ms.store(read_before ? 1796905471250 : 0);
        const std::string json = cli::device_state_json(state);
        for (const char* part :
             {"\"current\":false,", "\"set_ubat_low\":null,", "\"qm_status1\":null,",
              "\"temperatures\":null,", "\"lifetime_counters\":null}"}) {
            EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
        }
        EXPECT_NE(json.find(read_before ? "\"last_answer\":\"2026-12-10T12:24:31.250Z\""
                                        : "\"last_answer\":null"),
                  std::string::npos)
            << json;
    }
}

}  // namespace
}  // namespace zorvane
