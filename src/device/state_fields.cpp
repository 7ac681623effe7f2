#include "device/state_fields.h"

namespace zorvane {

namespace {

using S = DeviceState;

constexpr NamedFloat kFloatFields[] = {
    {"out_voltage", &S::out_voltage},
    {"out_current", &S::out_current},
    {"out_power", &S::out_power},
    {"bat_voltage", &S::bat_voltage},
    {"case_temperature", &S::case_temperature},
    {"bat_temperature", &S::bat_temperature},
    {"set_uout_nom", &S::set_uout_nom},
    {"set_ubat_low", &S::set_ubat_low},
    {"set_ubat_min", &S::set_ubat_min},
    {"set_ubat_min_on", &S::set_ubat_min_on},
    {"set_pmax", &S::set_pmax},
    {"set_urms_low_l", &S::set_urms_low_l},
    {"set_urms_low_h", &S::set_urms_low_h},
    {"set_urms_high_h", &S::set_urms_high_h},
    {"set_urms_high_l", &S::set_urms_high_l},
    {"set_ichrg_nom", &S::set_ichrg_nom},
    {"set_abs_end_factor", &S::set_abs_end_factor},
    {"set_abs_time", &S::set_abs_time},
    {"set_float_time", &S::set_float_time},
    {"set_rfloat_time", &S::set_rfloat_time},
    {"set_rabs_time", &S::set_rabs_time},
    {"set_egen_type", &S::set_egen_type},
    {"set_egen_ubat", &S::set_egen_ubat},
    {"set_egen_on_time", &S::set_egen_on_time},
    {"set_egen_pmax", &S::set_egen_pmax},
    {"set_egen_sleep", &S::set_egen_sleep},
    {"set_egen_work", &S::set_egen_work},
};

constexpr NamedDoubleArray kDoubleArrays[] = {
    {"temp_raw", &S::temp_raw},
    {"temperatures", &S::temperatures},
};

constexpr NamedBits kStatusBytes[] = {
    {"kx_status1", &S::kx_status1}, {"kx_status2", &S::kx_status2}, {"qm_status1", &S::qm_status1},
    {"qm_status2", &S::qm_status2}, {"qm_status3", &S::qm_status3},
};

}  // namespace

std::span<const NamedFloat> state_float_fields() {
    return kFloatFields;
}
std::span<const NamedDoubleArray> state_double_arrays() {
    return kDoubleArrays;
}
std::span<const NamedBits> state_status_bytes() {
    return kStatusBytes;
}

}  // namespace zorvane
