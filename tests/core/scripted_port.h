// An in-memory port for tests: each read returns the next scripted burst (or
// a time-out, or a failure), and every write is recorded.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "link/serial_port.h"

namespace zorvane::testing {

struct ScriptedRead {
    enum class Kind { Bytes, Timeout, Failure };
    Kind kind = Kind::Bytes;
    std::vector<uint8_t> bytes;
};

class ScriptedBackend : public PortBackend {
  public:
    // What the test sees, shared with the backend the port owns.
    struct Log {
        std::deque<ScriptedRead> reads;  // consumed front first; empty = time-out
        std::vector<std::vector<uint8_t>> writes;
        std::vector<size_t> read_limits;  // the size asked of each read
        int open_count = 0;
        int close_count = 0;
        bool fail_open = false;
        bool fail_write = false;
        bool open = false;
    };

    explicit ScriptedBackend(std::shared_ptr<Log> log) : m_log(std::move(log)) {}

    PortOpen open(const std::string&) override {
        if (m_log->fail_open)
            return PortOpen::failed(PortAccess::Missing, 0, "unplugged");
        ++m_log->open_count;
        m_log->open = true;
        return PortOpen::usable();
    }
    void close() override {
        ++m_log->close_count;
        m_log->open = false;
    }
    bool is_open() const override { return m_log->open; }
    void apply_line_settings() override {}
    bool write(const uint8_t* data, size_t size) override {
        m_log->writes.emplace_back(data, data + size);
        return !m_log->fail_write;
    }
    // A burst larger than the read's limit is split: the rest stays queued,
    // as it would in the driver's input buffer.
    int read(uint8_t* data, size_t size) override {
        m_log->read_limits.push_back(size);
        if (m_log->reads.empty())
            return 0;
        ScriptedRead& next = m_log->reads.front();
        if (next.kind == ScriptedRead::Kind::Failure) {
            m_log->reads.pop_front();
            return -1;
        }
        if (next.kind == ScriptedRead::Kind::Timeout) {
            m_log->reads.pop_front();
            return 0;
        }
        const size_t n = std::min(size, next.bytes.size());
        std::copy_n(next.bytes.begin(), n, data);
        next.bytes.erase(next.bytes.begin(), next.bytes.begin() + static_cast<long>(n));
        if (next.bytes.empty())
            m_log->reads.pop_front();
        return static_cast<int>(n);
    }

  private:
    std::shared_ptr<Log> m_log;
};

// A SerialPort on a scripted backend, with the log at hand.
struct ScriptedPort {
    std::shared_ptr<ScriptedBackend::Log> log = std::make_shared<ScriptedBackend::Log>();
    SerialPort port{std::make_unique<ScriptedBackend>(log)};

    void reply(std::vector<uint8_t> bytes) {
        log->reads.push_back({ScriptedRead::Kind::Bytes, std::move(bytes)});
    }
    void timeout() { log->reads.push_back({ScriptedRead::Kind::Timeout, {}}); }
    void failure() { log->reads.push_back({ScriptedRead::Kind::Failure, {}}); }
};

}  // namespace zorvane::testing
