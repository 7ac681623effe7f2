#include "sim/device_model.h"

#include <algorithm>
#include <cmath>

#include "link/frame.h"
#include "link/reply_catalogue.h"
#include "sim/device_defaults.h"
#include "state/variables.h"

namespace zorvane::sim {

namespace {

constexpr uint8_t kGenerationBit = 1 << 2;  // status byte 1

// Payload of a catalogue reply: one byte (L = 4) or (L - 3) / 2 words.
int payload_values(const ReplyEntry& entry) {
    return entry.length == 4 ? 1 : (entry.length - 3) / 2;
}

// Lifetime of a unit that has seen some service.
constexpr std::array<double, kCounterCount> kInitialCounters = {
    137,                        // switch-ons
    9'450'000,                  // total operating time, s
    7'820'000,                  // generating, s
    61'200,                     // above 3000 VA, s
    3'110'000,                  // fan, s
    2'640'000,                  // energy, VA·h
    2,         5, 0,  1,        // over-current, excess power, transformer and heatsink overheats
    3,         0, 12, 1, 0, 0,  // temperature, battery and fault events
    41,                         // mains-to-battery transfers
};

}  // namespace

const char* model_name(DeviceModel model) {
    return model_profile(model).name;
}

std::optional<DeviceModel> parse_model(std::string_view name) {
    return find_model(name);
}

bool is_qm(DeviceModel model) {
    return model_profile(model).family == Family::Qm;
}

SimDevice::SimDevice(const DeviceConfig& config) : m_model(config.model) {
    if (config.serial) {
        const std::string& s = *config.serial;
        std::copy_n(s.begin(), std::min(s.size(), m_serial.size()), m_serial.begin());
    } else {
        m_serial.fill(0xFF);
    }
    const int volts = model_profile(m_model).battery_volts;
    for (const Variable& v : variables()) {
        if (v.conversion == Conversion::Scaled && v.is_array()) {
            continue;  // the raw view of another row's words
        }
        for (int i = 0; i < (v.is_array() ? v.word : 1); ++i) {
            set_value(v.read_code, default_raw(v, volts, i), v.is_array() ? i : v.word);
        }
    }
    if (config.battery) {
        set_battery(*config.battery);
    }
    // Generating; a QM unit also sees the mains and floats its battery.
    m_status = {kGenerationBit, 0, 0};
    if (is_qm(m_model)) {
        m_status = {kGenerationBit | 0x40, 0x80, 0};
    }
    m_counters = kInitialCounters;
}

uint16_t SimDevice::value(uint8_t code, int index) const {
    return m_values[code][static_cast<size_t>(index)];
}

void SimDevice::set_value(uint8_t code, uint16_t raw, int index) {
    m_values[code][static_cast<size_t>(index)] = raw;
}

bool SimDevice::generating() const {
    return (m_status[0] & kGenerationBit) != 0;
}

bool SimDevice::set_status_bit(std::string_view name, bool on) {
    const Family family = is_qm(m_model) ? Family::Qm : Family::Kx;
    const StatusBit* bit = find_status_bit(name, family);
    if (bit == nullptr) {
        return false;
    }
    for (const StatusArrayRow& row : status_arrays()) {
        if (row.family == family && row.array == bit->array) {
            uint8_t& byte = m_status[static_cast<size_t>(row.byte)];
            const auto mask = static_cast<uint8_t>(1U << bit->bit);
            byte = on ? static_cast<uint8_t>(byte | mask) : static_cast<uint8_t>(byte & ~mask);
            return true;
        }
    }
    return false;
}

CounterValues SimDevice::counters() const {
    CounterValues out{};
    for (int k = 0; k < kCounterCount; ++k) {
        out[static_cast<size_t>(k)] = static_cast<int32_t>(
            std::clamp(std::floor(m_counters[static_cast<size_t>(k)]), 0.0,
                       counter_wire_max(counter_table()[static_cast<size_t>(k)])));
    }
    return out;
}

uint16_t SimDevice::reported(uint8_t code, int index) const {
    const double base = value(code, index);
    if (code == 0x41 && index < 3 && !generating()) {
        return 0;  // no output while generation is off
    }
    if (!m_live) {
        return static_cast<uint16_t>(base);
    }
    // Slow, small wander, different for every value.
    const double t = m_clock;
    double v = base;
    if (code == 0x41) {
        switch (index) {
            case 0:
                v = base + 4 * std::sin(0.7 * t);
                break;
            case 1:
                v = base * (1 + 0.08 * std::sin(0.23 * t));
                break;
            case 2:
                v = base * (1 + 0.08 * std::sin(0.23 * t + 0.1));
                break;
            default:
                v = base + std::sin(0.05 * t);
                break;
        }
    } else if (code == 0x46) {
        v = base + 6 * std::sin(0.02 * t + index);
    } else if (code == 0x47) {
        v = base + 3 * std::sin(0.03 * t);
    }
    return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
}

void SimDevice::advance(double seconds) {
    if (seconds <= 0) {
        return;
    }
    m_clock += seconds;
    m_counters[1] += seconds;
    if (!generating()) {
        return;
    }
    const double power = reported(0x41, 2);
    m_counters[2] += seconds;
    if (power > 3000) {
        m_counters[3] += seconds;
    }
    if (power > 800) {
        m_counters[4] += seconds;
    }
    m_counters[5] += power * seconds / 3600.0;
}

void SimDevice::clear_log() {
    m_received.clear();
    m_received_bytes = 0;
}

std::vector<ReplyPlan> SimDevice::receive(std::span<const uint8_t> bytes) {
    m_received_bytes += bytes.size();
    std::vector<ReplyPlan> plans;
    for (const auto& frame : m_framer.feed(bytes)) {
        if (auto plan = respond(frame)) {
            plans.push_back(std::move(*plan));
        }
    }
    return plans;
}

std::optional<ReplyPlan> SimDevice::respond(std::span<const uint8_t> frame) {
    m_received.emplace_back(frame.begin(), frame.end());
    const uint8_t code = frame[1];
    const bool is_action = code == cmd::kGenerationOn || code == cmd::kGenerationOff;
    const bool is_write = written_read_code(code) != 0;
    const std::vector<Fault> faults = m_faults.take(code, is_write || is_action);

    // The request takes effect whether or not its answer gets through,
    // unless the device refuses it.
    const bool refused = std::any_of(faults.begin(), faults.end(), [](const Fault& f) {
        return f.kind == FaultKind::IgnoreWrites;
    });
    ReplyPlan plan;
    if (m_replay) {
        plan.bytes = m_replay->answer(frame);
    } else if (is_write) {
        plan.bytes = take_write(frame, !refused);
    } else if (is_action && refused) {
        plan.bytes = {kFrameStart, static_cast<uint8_t>(code | kReplyBit), kFrameEnd};
    } else if (is_action) {
        if (code == cmd::kGenerationOn) {
            if (!generating()) {
                m_counters[0] += 1;
            }
            m_status[0] |= kGenerationBit;
        } else {
            m_status[0] &= static_cast<uint8_t>(~kGenerationBit);
        }
        plan.bytes = {kFrameStart, static_cast<uint8_t>(code | kReplyBit), kFrameEnd};
    } else {
        plan.bytes = reply_to_read(code, faults);
    }

    const bool silent = std::any_of(faults.begin(), faults.end(),
                                    [](const Fault& f) { return f.kind == FaultKind::Silence; });
    apply_line_faults(plan, faults, is_write || is_action);
    if (plan.hang_up) {
        plan.bytes.clear();
        return plan;
    }
    if (silent || plan.bytes.empty()) {
        return std::nullopt;
    }
    return plan;
}

std::vector<uint8_t> SimDevice::take_write(std::span<const uint8_t> frame, bool store) {
    const uint8_t read_code = written_read_code(frame[1]);
    const uint16_t raw = frame.size() == 5 ? word_at(frame.data(), 2) : frame[2];
    if (store) {
        set_value(read_code, raw);
    }
    // Acknowledged by echoing the frame with the reply bit; the tool reads
    // this once and does not look at it.
    std::vector<uint8_t> ack(frame.begin(), frame.end());
    ack[1] |= kReplyBit;
    return ack;
}

std::vector<uint8_t> SimDevice::reply_to_read(uint8_t code,
                                              const std::vector<Fault>& faults) const {
    auto has = [&faults](FaultKind kind) {
        return std::any_of(faults.begin(), faults.end(),
                           [kind](const Fault& f) { return f.kind == kind; });
    };
    const uint8_t echo = code | kReplyBit;
    switch (code) {
        case cmd::kStatus:
            return status_reply(has(FaultKind::OtherStatusForm));
        case cmd::kCounters:
            return counters_reply(has(FaultKind::OtherCountersLength));
        case cmd::kBatteryProbe: {
            const uint16_t battery = reported(0x41, 3);
            return {kFrameStart, echo, static_cast<uint8_t>(battery >> 8),
                    static_cast<uint8_t>(battery & 0xFF), kFrameEnd};
        }
        case cmd::kSerialNumber: {
            std::vector<uint8_t> reply{kFrameStart, echo};
            reply.insert(reply.end(), m_serial.begin(), m_serial.end());
            reply.push_back(kFrameEnd);
            return reply;
        }
        default:
            break;
    }
    const ReplyEntry* entry = find_reply(code);
    if (entry == nullptr) {
        return {};
    }
    std::vector<uint8_t> reply{kFrameStart, echo};
    if (entry->length == 4) {
        reply.push_back(static_cast<uint8_t>(reported(code, 0)));
    } else {
        for (int i = 0; i < payload_values(*entry); ++i) {
            const uint16_t w = reported(code, i);
            reply.push_back(static_cast<uint8_t>(w >> 8));
            reply.push_back(static_cast<uint8_t>(w & 0xFF));
        }
    }
    reply.push_back(kFrameEnd);
    return reply;
}

//   KX  < BE CA s1 s2 AA          QM  < BE CA s1 s2 s3 AA
//         0  1  2  3  4                 0  1  2  3  4  5
std::vector<uint8_t> SimDevice::status_reply(bool other_form) const {
    const bool long_form = is_qm(m_model) != other_form;
    std::vector<uint8_t> reply{kFrameStart, cmd::kStatus | kReplyBit, m_status[0], m_status[1]};
    if (long_form) {
        reply.push_back(m_status[2]);
    }
    reply.push_back(kFrameEnd);
    return reply;
}

std::vector<uint8_t> SimDevice::counters_reply(bool other_length) const {
    const bool long_form = is_qm(m_model) != other_length;
    return encode_counters(counters(), long_form ? kCountersQmLength : kCountersKxLength);
}

std::vector<uint8_t> encode_counters(const CounterValues& c, int length) {
    std::vector<uint8_t> r(static_cast<size_t>(length), 0);
    r[0] = kFrameStart;
    r[1] = cmd::kCounters | kReplyBit;
    for (const CounterDef& counter : counter_table()) {
        const size_t i = static_cast<size_t>(counter_offset(counter.index));
        if (i + 2 > static_cast<size_t>(length) - 1) {
            break;  // the short form has no room for the last counter
        }
        const int32_t value = c[static_cast<size_t>(counter.index)];
        switch (counter.wire) {
            case CounterWire::Word16:
            case CounterWire::Word32: {
                const size_t bytes = counter.wire == CounterWire::Word32 ? 4 : 2;
                for (size_t b = 0; b < bytes; ++b) {
                    r[i + b] =
                        static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * (bytes - 1 - b)));
                }
                break;
            }
            case CounterWire::BytePair: {
                const int v = std::clamp(value, 0, 510);
                r[i + 1] = static_cast<uint8_t>(std::min(v, 255));
                r[i] = static_cast<uint8_t>(v - r[i + 1]);
                break;
            }
        }
    }
    r[static_cast<size_t>(length) - 1] = kFrameEnd;
    return r;
}

}  // namespace zorvane::sim
