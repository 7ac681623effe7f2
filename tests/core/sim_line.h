// The simulated device's model behind an in-memory PortBackend: the one
// in-memory line of the tests (poll cycles, setting writes, the worker, the
// fault matrix). Each request is answered the moment it is written, with the
// model's replies and its faults (sim/faults.h); a silent read costs nothing
// here, so the slow cases (a silent device, counters of the other length) run
// in no time.
//
// What the line does to a reply is modelled in bursts rather than in time: a
// burst that was sent before a request has arrived by the time the reply to
// that request is read, so one read takes all of those bytes together with
// the first burst of the new reply. The second part of a split reply (its gap
// is longer than the 5 ms a read waits after a byte) is read on its own by a
// later read, or comes in front of the next reply; a late reply misses the
// first read after its request.
//
// One thread at a time uses it (the hand-over's promise); `holders` counts
// the threads that have it open, so a test can see that promise broken.
//
// Several lines make a bus (SimBus): each device behind the path of its COM
// port, as the search meets them.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_port.h"
#include "sim/device_model.h"

namespace zorvane::testing {

struct SimLine {
    explicit SimLine(DeviceModel model) : SimLine(sim::DeviceConfig{model, "1234", {}}) {}
    explicit SimLine(const sim::DeviceConfig& config) : device(config) {}

    sim::SimDevice device;
    bool fail_open = false;
    bool hung_up = false;  // the cable was pulled: nothing opens, reads and writes fail
    bool keep_log = true;  // off for long runs
    std::chrono::microseconds read_delay{0};  // time each read takes

    std::atomic<int> holders{0};
    std::atomic<bool> overlap{false};
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<bool> open{false};
    // Every write as it went on the line, frames or not (while keep_log).
    std::vector<std::vector<uint8_t>> writes;

    struct Burst {
        std::vector<uint8_t> bytes;
        bool arrived = false;
    };
    std::deque<Burst> bursts;

    // Bytes already in the input, read before anything else.
    void plant(std::vector<uint8_t> bytes) { bursts.push_front({std::move(bytes), true}); }

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

    void put(const sim::ReplyPlan& plan) {
        if (plan.hang_up) {
            hung_up = true;
            return;
        }
        if (plan.delay.count() > 0) {
            bursts.push_back({});  // the first read finds nothing yet
        }
        const bool split = plan.first_burst > 0 && plan.first_burst < plan.bytes.size() &&
                           plan.gap > sim::Micros{5000};
        const auto cut =
            plan.bytes.begin() + static_cast<long>(split ? plan.first_burst : plan.bytes.size());
        bursts.push_back({{plan.bytes.begin(), cut}, false});
        if (split) {
            bursts.push_back({{cut, plan.bytes.end()}, false});
        }
    }
};

// Simulated devices by port path; a path without one is missing.
struct SimBus {
    std::map<std::string, std::shared_ptr<SimLine>> by_path;

    SimLine& add(int com_port, const sim::DeviceConfig& config) {
        auto& line = by_path[resolve_port_path(com_port)];
        line = std::make_shared<SimLine>(config);
        return *line;
    }
};

class SimLineBackend : public PortBackend {
  public:
    explicit SimLineBackend(std::shared_ptr<SimLine> line) : m_line(std::move(line)) {}
    explicit SimLineBackend(std::shared_ptr<const SimBus> bus) : m_bus(std::move(bus)) {}

    PortOpen open(const std::string& path) override {
        if (m_bus) {
            const auto it = m_bus->by_path.find(path);
            if (it == m_bus->by_path.end()) {
                return PortOpen::failed(PortAccess::Missing, 0, "nothing behind this name");
            }
            m_line = it->second;
        }
        if (m_line->fail_open || m_line->hung_up) {
            return PortOpen::failed(PortAccess::Missing, 0, "unplugged");
        }
        if (m_line->holders.fetch_add(1) != 0) {
            m_line->overlap.store(true);
        }
        ++m_line->opens;
        m_line->open.store(true);
        // Opening empties the input; bytes still under way come afterwards.
        std::erase_if(m_line->bursts, [](const SimLine::Burst& b) { return b.arrived; });
        return PortOpen::usable();
    }
    void close() override {
        m_line->open.store(false);
        m_line->holders.fetch_sub(1);
        ++m_line->closes;
    }
    bool is_open() const override { return m_line && m_line->open.load(); }
    void apply_line_settings() override {}
    bool write(const uint8_t* data, size_t size) override {
        if (m_line->keep_log) {
            m_line->writes.emplace_back(data, data + size);
        }
        if (m_line->hung_up) {
            return false;
        }
        for (SimLine::Burst& b : m_line->bursts) {
            b.arrived = true;  // time has passed: all of it is in the input now
        }
        for (const sim::ReplyPlan& plan : m_line->device.receive({data, size})) {
            m_line->put(plan);
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
        if (m_line->hung_up) {
            return -1;
        }
        auto& bursts = m_line->bursts;
        std::vector<uint8_t> got;
        // Everything that has arrived, then the first burst still under way.
        while (!bursts.empty() && bursts.front().arrived) {
            got.insert(got.end(), bursts.front().bytes.begin(), bursts.front().bytes.end());
            bursts.pop_front();
        }
        if (!bursts.empty()) {
            got.insert(got.end(), bursts.front().bytes.begin(), bursts.front().bytes.end());
            bursts.pop_front();
        }
        if (got.size() > size) {
            bursts.push_front({{got.begin() + static_cast<long>(size), got.end()}, true});
            got.resize(size);
        }
        std::copy(got.begin(), got.end(), data);
        return static_cast<int>(got.size());
    }

  private:
    std::shared_ptr<const SimBus> m_bus;
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
