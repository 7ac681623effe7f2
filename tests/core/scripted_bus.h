// Several scripted devices behind one port object, picked by the path the port
// opens (COMn resolves to a path, the path picks the line). Each line answers
// every request frame written to it from a table of replies per command code,
// so that a test describes a device rather than a sequence of reads.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace zorvane::testing {

struct ScriptedLine {
    // Replies to the request with this code, in order; the last one repeats.
    // A code without replies leaves the line silent.
    std::map<uint8_t, std::deque<std::vector<uint8_t>>> replies;
    bool unplugged = false;  // every write and read fails, as on a pulled adapter

    // What the test sees.
    std::vector<std::vector<uint8_t>> writes;
    int open_count = 0;
    int close_count = 0;

    void answer(uint8_t code, std::vector<uint8_t> reply) {
        replies[code].push_back(std::move(reply));
    }
};

struct ScriptedBusLines {
    std::map<std::string, std::shared_ptr<ScriptedLine>> by_path;

    // The line behind COMn, created on first use.
    ScriptedLine& at(int com_port) {
        auto& line = by_path[resolve_port_path(com_port)];
        if (!line) {
            line = std::make_shared<ScriptedLine>();
        }
        return *line;
    }
};

class ScriptedBus : public PortBackend {
  public:
    explicit ScriptedBus(std::shared_ptr<ScriptedBusLines> lines) : m_lines(std::move(lines)) {}

    PortOpen open(const std::string& path) override {
        const auto it = m_lines->by_path.find(path);
        if (it == m_lines->by_path.end()) {
            return PortOpen::failed(PortAccess::Missing, 0, "nothing behind this name");
        }
        m_line = it->second;
        ++m_line->open_count;
        m_pending.clear();
        return PortOpen::usable();
    }
    void close() override {
        ++m_line->close_count;
        m_line.reset();
    }
    bool is_open() const override { return m_line != nullptr; }
    void apply_line_settings() override {}

    bool write(const uint8_t* data, size_t size) override {
        m_line->writes.emplace_back(data, data + size);
        if (m_line->unplugged) {
            return false;
        }
        if (size >= 3 && data[0] == 0xBE) {
            auto it = m_line->replies.find(data[1]);
            if (it != m_line->replies.end() && !it->second.empty()) {
                const std::vector<uint8_t>& reply = it->second.front();
                m_pending.insert(m_pending.end(), reply.begin(), reply.end());
                if (it->second.size() > 1) {
                    it->second.pop_front();
                }
            }
        }
        return true;
    }

    // Everything pending comes in one read (up to its limit); then time-outs.
    int read(uint8_t* data, size_t size) override {
        if (m_line->unplugged) {
            return -1;
        }
        const size_t n = std::min(size, m_pending.size());
        std::copy_n(m_pending.begin(), n, data);
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(n));
        return static_cast<int>(n);
    }

  private:
    std::shared_ptr<ScriptedBusLines> m_lines;
    std::shared_ptr<ScriptedLine> m_line;
    std::deque<uint8_t> m_pending;
};

// A SerialPort on a scripted bus, with the lines at hand.
struct ScriptedBusPort {
    std::shared_ptr<ScriptedBusLines> lines = std::make_shared<ScriptedBusLines>();
    SerialPort port{std::make_unique<ScriptedBus>(lines)};

    ScriptedLine& line(int com_port) { return lines->at(com_port); }
};

}  // namespace zorvane::testing
