// The device families and the four models: one profile row per model with
// what the tool must know of it (family, battery voltage class, the poll pass
// of its family, the length of its status and counters replies).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zorvane {

// Values are those of g_device_kind: 0 while no device was found.
enum class Family : int32_t { None = 0, Kx = 1, Qm = 2 };

// The family stored in g_device_kind; anything but 1 or 2 is no family.
Family family_of_kind(int32_t kind);
inline int32_t kind_of(Family family) {
    return static_cast<int32_t>(family);
}

enum class DeviceModel : int { KX24 = 0, KX48 = 1, QM24 = 2, QM48 = 3 };

// One step of a poll pass: a read of the reply catalogue, the status request
// (its own acceptance rule) or the counters request (accepted on its exact
// length only).
struct PollStep {
    enum class Kind : uint8_t { Read, Status, Counters };
    Kind kind;
    uint8_t code;  // Read: the catalogue row; Status 0x4A; Counters 0x53
};

// The two forms of the status reply, told apart by their length:
//   KX  < BE CA s1 s2 AA          QM  < BE CA s1 s2 s3 AA
inline constexpr int kStatusShortLength = 5;
inline constexpr int kStatusLongLength = 6;
// The counters reply: KX devices send 16 counters, QM devices 17.
inline constexpr int kCountersKxLength = 45;
inline constexpr int kCountersQmLength = 47;

struct FamilyProfile {
    Family family;
    const char* name;                 // "KX", "QM"
    std::span<const PollStep> steps;  // the pass, in the order the device is asked
    int status_length;                // kStatusShortLength or kStatusLongLength
    int counters_length;              // kCountersKxLength or kCountersQmLength
};

struct ModelProfile {
    DeviceModel model;
    const char* name;  // "KX-24": the search's caption and the simulator's option
    Family family;
    int battery_volts;  // 24 or 48: the voltage class of its battery thresholds
    const FamilyProfile& profile() const;
};

const FamilyProfile& family_profile(Family family);  // anything but KX gives QM
std::span<const ModelProfile> model_profiles();
const ModelProfile& model_profile(DeviceModel model);
std::optional<DeviceModel> find_model(std::string_view name);

// A battery probe above this voltage is a 48 V unit; exactly 30.0 V is a
// 24 V one.
inline constexpr float kBatterySplitVolts = 30.0f;

}  // namespace zorvane
