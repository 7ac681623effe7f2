// A captured unit served again: the replies of a trace file, by request.
//
// Each request is answered with a reply recorded for the same request
// bytes: in recorded order when it was asked several times, the last one
// again once they run out; a request the trace never answered gets nothing
// (as the unit gave nothing). A setting write is answered as recorded (or
// acknowledged, as a unit does) and remembered: later replies to the read
// that carries the setting hold the written value in its place, so that a
// read-back finds what was written. The output switch likewise sets or
// clears the generation bit of later status replies.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "record/wire_trace.h"

namespace zorvane::sim {

class ReplayUnit {
  public:
    // The exchanges of `port` in the trace.
    ReplayUnit(const ParsedTrace& trace, const std::string& port);

    // The reply to one whole request frame; empty: nothing is sent.
    std::vector<uint8_t> answer(std::span<const uint8_t> request);

    size_t recorded_requests() const { return m_replies.size(); }

  private:
    struct Recorded {
        std::vector<std::vector<uint8_t>> replies;
        size_t next = 0;
    };
    struct Written {
        uint8_t width = 2;
        uint16_t raw = 0;
    };
    void patch(std::vector<uint8_t>& reply, uint8_t code) const;

    std::map<std::vector<uint8_t>, Recorded> m_replies;
    // By the read code that carries it and its word: the last write wins.
    std::map<std::pair<uint8_t, uint8_t>, Written> m_written;
    std::optional<bool> m_generating;
};

// The port of the trace that `com_port` serves: the only one that answered
// anything, or among several the one named COMn (a port directory's link,
// /dev/.../COMn). Empty and `error` set when there is no such port or no
// way to choose.
std::string replay_port_of(const ParsedTrace& trace, int com_port, std::string& error);

// Reads and checks a trace file and picks the port: null and `error` set
// (naming the line that does not parse) when refused.
std::shared_ptr<ReplayUnit> load_replay(const std::string& path, int com_port, std::string& error);

}  // namespace zorvane::sim
