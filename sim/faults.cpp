#include "sim/faults.h"

#include <algorithm>

#include "link/frame.h"

namespace zorvane::sim {

namespace fault {

namespace {
Fault make(FaultKind kind, std::optional<uint8_t> code, int count) {
    Fault f;
    f.kind = kind;
    f.code = code;
    f.count = count;
    return f;
}
}  // namespace

Fault silence(std::optional<uint8_t> code, int count) {
    return make(FaultKind::Silence, code, count);
}

Fault drop_next_reply() {
    return silence({}, 1);
}

Fault answer_at_attempt(uint8_t code, int k) {
    return silence(code, std::max(k - 1, 0));
}

Fault garbage(std::optional<uint8_t> code, int count) {
    return make(FaultKind::Garbage, code, count);
}

Fault truncate(uint8_t code, size_t keep, int count) {
    Fault f = make(FaultKind::Truncate, code, count);
    f.size = keep;
    return f;
}

Fault split(std::optional<uint8_t> code, size_t first_burst, Micros gap, int count) {
    Fault f = make(FaultKind::Split, code, count);
    f.size = first_burst;
    f.gap = gap;
    return f;
}

Fault extra_bytes(std::optional<uint8_t> code, std::vector<uint8_t> bytes, int count) {
    Fault f = make(FaultKind::ExtraBytes, code, count);
    f.bytes = std::move(bytes);
    return f;
}

Fault other_status_form(int count) {
    return make(FaultKind::OtherStatusForm, cmd::kStatus, count);
}

Fault corrupt(uint8_t code, size_t at, uint8_t flip, int count) {
    Fault f = make(FaultKind::Corrupt, code, count);
    f.size = at;
    f.bytes = {static_cast<uint8_t>(flip != 0 ? flip : 0x01)};
    return f;
}

Fault drop_status_reply(int count) {
    return silence(cmd::kStatus, count);
}

Fault flip_battery_bit(int after, uint8_t bit) {
    Fault f = corrupt(cmd::kBatteryProbe, 2, bit, 1);
    f.after = after;
    return f;
}

Fault other_counters_length(int count) {
    return make(FaultKind::OtherCountersLength, cmd::kCounters, count);
}

Fault late(std::optional<uint8_t> code, Micros delay, int count) {
    Fault f = make(FaultKind::Late, code, count);
    f.delay = delay;
    return f;
}

Fault write_nonsense(int count) {
    return make(FaultKind::WriteNonsense, {}, count);
}

Fault ignore_writes(int count) {
    return make(FaultKind::IgnoreWrites, {}, count);
}

Fault hang_up(std::optional<uint8_t> code) {
    return make(FaultKind::HangUp, code, 1);
}

Fault ignore_write(uint8_t code, int count) {
    return make(FaultKind::IgnoreWrites, code, count);
}

}  // namespace fault

namespace {

bool hits(const Fault& f, uint8_t code, bool is_write) {
    if (f.count == 0 || (f.code && *f.code != code)) {
        return false;
    }
    switch (f.kind) {
        case FaultKind::WriteNonsense:
        case FaultKind::IgnoreWrites:
            return is_write;
        case FaultKind::OtherStatusForm:
            return code == cmd::kStatus;
        case FaultKind::OtherCountersLength:
            return code == cmd::kCounters;
        default:
            return true;
    }
}

}  // namespace

std::vector<Fault> FaultList::take(uint8_t code, bool is_write) {
    std::vector<Fault> taken;
    for (Fault& f : m_faults) {
        if (!hits(f, code, is_write)) {
            continue;
        }
        if (f.after > 0) {
            --f.after;
            continue;
        }
        taken.push_back(f);
        if (f.count > 0) {
            --f.count;
        }
    }
    std::erase_if(m_faults, [](const Fault& f) { return f.count == 0; });
    return taken;
}

std::vector<uint8_t> garbage_bytes(size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) {
        const auto b = static_cast<uint8_t>(0x13 + 0x29 * i);
        bytes[i] = (b == kFrameStart || b == kFrameEnd) ? 0x00 : b;
    }
    return bytes;
}

void apply_line_faults(ReplyPlan& plan, const std::vector<Fault>& faults, bool is_write) {
    // Content first (what is sent), then timing (how it is sent), so that a
    // split or a delay applies to the reply as finally made up.
    for (const Fault& f : faults) {
        if (f.kind == FaultKind::WriteNonsense && is_write) {
            plan.bytes = f.bytes.empty() ? garbage_bytes(plan.bytes.size() + 2) : f.bytes;
        }
    }
    for (const Fault& f : faults) {
        switch (f.kind) {
            case FaultKind::Garbage:
                plan.bytes = f.bytes.empty() ? garbage_bytes(plan.bytes.size()) : f.bytes;
                break;
            case FaultKind::Truncate:
                plan.bytes.resize(std::min(plan.bytes.size(), f.size));
                break;
            case FaultKind::Corrupt:
                if (!plan.bytes.empty() && !f.bytes.empty()) {
                    plan.bytes[f.size % plan.bytes.size()] ^= f.bytes[0];
                }
                break;
            default:
                break;
        }
    }
    for (const Fault& f : faults) {
        if (f.kind == FaultKind::ExtraBytes) {
            plan.bytes.insert(plan.bytes.end(), f.bytes.begin(), f.bytes.end());
        }
    }
    for (const Fault& f : faults) {
        switch (f.kind) {
            case FaultKind::Split:
                plan.first_burst =
                    f.size ? std::min(f.size, plan.bytes.size()) : plan.bytes.size() / 2;
                plan.gap = f.gap;
                break;
            case FaultKind::Late:
                plan.delay += f.delay;
                break;
            case FaultKind::HangUp:
                plan.hang_up = true;
                break;
            default:
                break;
        }
    }
}

}  // namespace zorvane::sim
