// The simulated device's model behind an in-memory PortBackend: each request
// is answered the moment it is written, with the model's replies and faults
// but none of the line's timing. A silent read costs nothing here, so the
// slow cases (a silent device, counters of the other length) run in no time.
//
// One thread at a time uses it (the hand-over's promise); `holders` counts
// the threads that have it open, so a test can see that promise broken.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "link/serial_port.h"
#include "sim/device_model.h"

namespace zorvane::testing {

struct SimLine {
    explicit SimLine(DeviceModel model) : device(sim::DeviceConfig{model, "1234", {}}) {}

    sim::SimDevice device;
    std::vector<uint8_t> pending;  // reply bytes not yet read
    bool fail_open = false;
    bool keep_log = true;                     // off for long runs
    std::chrono::microseconds read_delay{0};  // time each read takes

    std::atomic<int> holders{0};
    std::atomic<bool> overlap{false};
    std::atomic<int> opens{0};
    std::atomic<bool> open{false};

    int requests(uint8_t code) const {
        return static_cast<int>(std::count_if(
            device.received().begin(), device.received().end(),
            [code](const auto& frame) { return frame.size() == 3 && frame[1] == code; }));
    }
    std::vector<uint8_t> request_codes() const {
        std::vector<uint8_t> codes;
        for (const auto& frame : device.received()) codes.push_back(frame[1]);
        return codes;
    }
};

class SimLineBackend : public PortBackend {
  public:
    explicit SimLineBackend(std::shared_ptr<SimLine> line) : m_line(std::move(line)) {}

    PortOpen open(const std::string&) override {
        if (m_line->fail_open) {
            return PortOpen::failed(PortAccess::Missing, 0, "unplugged");
        }
        if (m_line->holders.fetch_add(1) != 0) {
            m_line->overlap.store(true);
        }
        ++m_line->opens;
        m_line->open.store(true);
        return PortOpen::usable();
    }
    void close() override {
        m_line->open.store(false);
        m_line->holders.fetch_sub(1);
    }
    bool is_open() const override { return m_line->open.load(); }
    void apply_line_settings() override {}
    bool write(const uint8_t* data, size_t size) override {
        for (const sim::ReplyPlan& plan : m_line->device.receive({data, size})) {
            m_line->pending.insert(m_line->pending.end(), plan.bytes.begin(), plan.bytes.end());
        }
        if (!m_line->keep_log) {
            m_line->device.clear_log();
        }
        return true;
    }
    int read(uint8_t* data, size_t size) override {
        if (m_line->read_delay.count() > 0) {
            std::this_thread::sleep_for(m_line->read_delay);
        }
        auto& pending = m_line->pending;
        const size_t n = std::min(size, pending.size());
        std::copy_n(pending.begin(), n, data);
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
        return static_cast<int>(n);
    }

  private:
    std::shared_ptr<SimLine> m_line;
};

// A SerialPort on an in-memory simulated device.
struct SimLinePort {
    explicit SimLinePort(DeviceModel model = DeviceModel::QM48)
        : line(std::make_shared<SimLine>(model)), port(std::make_unique<SimLineBackend>(line)) {}
    std::shared_ptr<SimLine> line;
    SerialPort port;
};

}  // namespace zorvane::testing
