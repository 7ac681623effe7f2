#include "state/models.h"

#include <array>

namespace zorvane {

namespace {

constexpr PollStep read(uint8_t code) {
    return {PollStep::Kind::Read, code};
}
constexpr PollStep kStatusStep{PollStep::Kind::Status, 0x4A};
constexpr PollStep kCountersStep{PollStep::Kind::Counters, 0x53};

// KX:  > BE 41 AA  < BE C1 w0 w0 w1 w1 w2 w2 w3 w3 AA  … then status, counters (45).
constexpr std::array kKxSteps = {
    read(0x41), read(0x40), read(0x46), read(0x47),  read(0x4C),
    read(0x4E), read(0x50), read(0x52), kStatusStep, kCountersStep,
};

// QM: the KX reads, then its own settings. The generator block is not in
// code order: the device is asked 0x74, 0x76, 0x77 and only then 0x72.
constexpr std::array kQmSteps = {
    read(0x41), read(0x40),  read(0x46), read(0x47), read(0x4C), read(0x4E),    read(0x50),
    read(0x52), kStatusStep, read(0x58), read(0x5A), read(0x5C), read(0x5E),    read(0x60),
    read(0x62), read(0x64),  read(0x66), read(0x68), read(0x6A), read(0x6C),    read(0x6E),
    read(0x70), read(0x74),  read(0x76), read(0x77), read(0x72), kCountersStep,
};

const FamilyProfile kKx{Family::Kx, "KX", kKxSteps, kStatusShortLength, kCountersKxLength};
const FamilyProfile kQm{Family::Qm, "QM", kQmSteps, kStatusLongLength, kCountersQmLength};

// Indexed by DeviceModel.
constexpr std::array kModels = {
    ModelProfile{DeviceModel::KX24, "KX-24", Family::Kx, 24},
    ModelProfile{DeviceModel::KX48, "KX-48", Family::Kx, 48},
    ModelProfile{DeviceModel::QM24, "QM-24", Family::Qm, 24},
    ModelProfile{DeviceModel::QM48, "QM-48", Family::Qm, 48},
};

}  // namespace

Family family_of_kind(int32_t kind) {
    return kind == 1 ? Family::Kx : kind == 2 ? Family::Qm : Family::None;
}

const FamilyProfile& ModelProfile::profile() const {
    return family_profile(family);
}

const FamilyProfile& family_profile(Family family) {
    return family == Family::Kx ? kKx : kQm;
}

std::span<const ModelProfile> model_profiles() {
    return kModels;
}

const ModelProfile& model_profile(DeviceModel model) {
    const int index = static_cast<int>(model);
    return kModels[index >= 0 && index < 4 ? static_cast<size_t>(index) : 0];
}

std::optional<DeviceModel> find_model(std::string_view name) {
    for (const ModelProfile& m : kModels) {
        if (name == m.name) {
            return m.model;
        }
    }
    return std::nullopt;
}

}  // namespace zorvane
