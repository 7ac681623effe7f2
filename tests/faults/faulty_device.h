// An in-memory device with faults on demand, for the fault matrix where a
// pseudo-terminal would make it slow (a silent read costs 550 ms there).
//
// The good replies come from the simulated device's model. What the line does with
// them is modelled in bursts: a burst that was sent before a request has
// arrived by the time the reply to that request is read, so one read takes
// all of those bytes together with the first burst of the new reply; a later
// burst of the same reply comes after a gap longer than 5 ms and is read on
// its own.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "link/frame.h"
#include "link/serial_port.h"
#include "sim/device_model.h"

namespace zorvane::testing {

enum class Fault {
    None,
    Silence,              // no answer at all
    Garbage,              // bytes that are no frame
    Mangled,              // a byte of the reply lost on the line, a noise byte after it
    Bursts,               // the reply in three bursts with gaps between them
    ExtraBytes,           // the reply followed by bytes that belong to nothing
    LateTail,             // half the reply now, the rest in front of the next reply
    OtherStatusForm,      // 0x4A answered in the other family's form
    OtherCountersLength,  // 0x53 answered with the other family's length
    HangUp,               // the line goes away after the request is written
    NonsenseWriteAnswer,  // a write answered with a stream of junk, some of it late
};

// Applies `fault` to the requests of `code` numbered first .. first+count-1
// (counted from 0 over the device's life); count -1 means all of them.
struct FaultRule {
    uint8_t code;
    Fault fault;
    int first = 0;
    int count = -1;
};

class FaultyDevice {
  public:
    explicit FaultyDevice(DeviceModel model) : registers(sim::DeviceConfig{model, "1234", {}}) {}

    sim::SimDevice registers;
    std::vector<FaultRule> rules;
    std::vector<std::vector<uint8_t>> writes;
    bool hung_up = false;

    bool open() {
        if (hung_up) {
            return false;  // the adapter's device node is gone
        }
        // The port flushes its input on open; bytes still under way arrive
        // afterwards and are not flushed.
        m_bursts.clear();
        return true;
    }

    bool write(const uint8_t* data, size_t size) {
        if (hung_up) {
            return false;
        }
        std::vector<uint8_t> frame(data, data + size);
        writes.push_back(frame);
        for (Burst& b : m_bursts) {
            b.arrived = true;  // time has passed: all of it is in the input now
        }
        const uint8_t code = size >= 2 ? frame[1] : 0;
        const Fault fault = fault_for(code, m_requests[code]++);
        std::optional<sim::ReplyPlan> plan = registers.respond(frame);
        answer(fault, code, frame.size() > 3,
               plan ? std::move(plan->bytes) : std::vector<uint8_t>{});
        return true;
    }

    int read(uint8_t* data, size_t size) {
        if (hung_up) {
            return -1;
        }
        std::vector<uint8_t> got;
        // Everything that has arrived, then the first burst still under way.
        while (!m_bursts.empty() && m_bursts.front().arrived) {
            append(got, m_bursts.front().bytes);
            m_bursts.pop_front();
        }
        if (!m_bursts.empty()) {
            append(got, m_bursts.front().bytes);
            m_bursts.pop_front();
        }
        if (got.size() > size) {
            m_bursts.push_front({{got.begin() + static_cast<long>(size), got.end()}, true});
            got.resize(size);
        }
        std::copy(got.begin(), got.end(), data);
        return static_cast<int>(got.size());
    }

    // Numbers the requests afresh, so that rules count from the next one.
    void restart_count() { m_requests.clear(); }

    int requests(uint8_t code) const {
        auto it = m_requests.find(code);
        return it == m_requests.end() ? 0 : it->second;
    }

  private:
    struct Burst {
        std::vector<uint8_t> bytes;
        bool arrived = false;
    };

    static void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
        to.insert(to.end(), bytes.begin(), bytes.end());
    }

    Fault fault_for(uint8_t code, int index) const {
        for (const FaultRule& r : rules) {
            if (r.code == code && index >= r.first && (r.count < 0 || index < r.first + r.count)) {
                return r.fault;
            }
        }
        return Fault::None;
    }

    // Junk that never starts a frame.
    std::vector<uint8_t> junk(size_t n) {
        std::vector<uint8_t> out(n);
        for (uint8_t& b : out) {
            m_seed = m_seed * 1103515245u + 12345u;
            b = static_cast<uint8_t>(m_seed >> 16);
        }
        if (!out.empty() && out[0] == kFrameStart) {
            out[0] = 0x00;
        }
        return out;
    }

    void send(std::vector<uint8_t> bytes) {
        if (!m_late.empty()) {
            bytes.insert(bytes.begin(), m_late.begin(), m_late.end());
            m_late.clear();
        }
        m_bursts.push_back({std::move(bytes), false});
    }

    std::vector<uint8_t> other_form(uint8_t code) {
        const bool qm = sim::is_qm(registers.model());
        if (code == cmd::kStatus) {
            std::vector<uint8_t> f{kFrameStart, static_cast<uint8_t>(code | kReplyBit),
                                   registers.status_byte(0), registers.status_byte(1)};
            if (!qm) {
                f.push_back(registers.status_byte(2));
            }
            f.push_back(kFrameEnd);
            return f;
        }
        return sim::encode_counters(registers.counters(),
                                    qm ? kCountersKxLength : kCountersQmLength);
    }

    void answer(Fault fault, uint8_t code, bool is_write, std::vector<uint8_t> good) {
        switch (fault) {
            case Fault::None:
                send(std::move(good));
                return;
            case Fault::Silence:
                return;
            case Fault::Garbage:
                send(junk(good.size() + 3));
                return;
            case Fault::Mangled: {
                // Start, code and length still look right; the end byte has
                // moved one place forward and a noise byte takes its place.
                good.erase(good.begin() + static_cast<long>(good.size() / 2));
                good.push_back(static_cast<uint8_t>(kFrameEnd ^ 0x11));
                send(std::move(good));
                return;
            }
            case Fault::Bursts: {
                const size_t a = good.size() / 3, b = 2 * good.size() / 3;
                send({good.begin(), good.begin() + static_cast<long>(a)});
                m_bursts.push_back(
                    {{good.begin() + static_cast<long>(a), good.begin() + static_cast<long>(b)},
                     false});
                m_bursts.push_back({{good.begin() + static_cast<long>(b), good.end()}, false});
                return;
            }
            case Fault::ExtraBytes: {
                std::vector<uint8_t> more = junk(7);
                append(good, more);
                send(std::move(good));
                return;
            }
            case Fault::LateTail: {
                const size_t half = good.size() / 2;
                std::vector<uint8_t> tail(good.begin() + static_cast<long>(half), good.end());
                good.resize(half);
                send(std::move(good));
                m_late = std::move(tail);
                return;
            }
            case Fault::OtherStatusForm:
            case Fault::OtherCountersLength:
                send(code == cmd::kStatus || code == cmd::kCounters ? other_form(code)
                                                                    : std::move(good));
                return;
            case Fault::HangUp:
                hung_up = true;
                return;
            case Fault::NonsenseWriteAnswer:
                if (!is_write) {
                    send(std::move(good));
                    return;
                }
                send(junk(150));   // more than one read takes
                m_late = junk(9);  // and some still under way after the port closes
                return;
        }
    }

    std::deque<Burst> m_bursts;
    std::vector<uint8_t> m_late;  // bytes that come in front of the next answer
    std::map<uint8_t, int> m_requests;
    uint32_t m_seed = 12345;
};

class FaultyBackend : public PortBackend {
  public:
    explicit FaultyBackend(std::shared_ptr<FaultyDevice> device) : m_device(std::move(device)) {}
    PortOpen open(const std::string&) override {
        m_open = m_device->open();
        return m_open ? PortOpen::usable() : PortOpen::failed(PortAccess::Missing, 0, "unplugged");
    }
    void close() override { m_open = false; }
    bool is_open() const override { return m_open; }
    void apply_line_settings() override {}
    bool write(const uint8_t* data, size_t size) override { return m_device->write(data, size); }
    int read(uint8_t* data, size_t size) override { return m_device->read(data, size); }

  private:
    std::shared_ptr<FaultyDevice> m_device;
    bool m_open = false;
};

struct FaultyPort {
    explicit FaultyPort(DeviceModel model)
        : device(std::make_shared<FaultyDevice>(model)),
          port(std::make_unique<FaultyBackend>(device)) {}
    std::shared_ptr<FaultyDevice> device;
    SerialPort port;
};

}  // namespace zorvane::testing
