#include "sim/replay.h"

#include <algorithm>

#include "link/frame.h"
#include "link/reply_catalogue.h"
#include "sim/request_framer.h"
#include "state/variables.h"

namespace zorvane::sim {

namespace {

bool is_action(uint8_t code) {
    return code == cmd::kGenerationOn || code == cmd::kGenerationOff;
}

// "COM5" is the last part of the port's name.
bool named_com(const std::string& port, int com_port) {
    const std::string name = "COM" + std::to_string(com_port);
    if (!port.ends_with(name)) {
        return false;
    }
    const size_t at = port.size() - name.size();
    return at == 0 || port[at - 1] == '/' || port[at - 1] == '\\' || port[at - 1] == '.';
}

}  // namespace

ReplayUnit::ReplayUnit(const ParsedTrace& trace, const std::string& port) {
    // An rx line answers the request of the tx line before it on the same
    // port; a port event in between ends the exchange unanswered.
    std::optional<std::vector<uint8_t>> asked;
    for (const TraceLine& line : trace.lines) {
        if (line.port != port) {
            continue;
        }
        switch (line.entry) {
            case TraceEntry::Tx: {
                RequestFramer framer;
                auto frames = framer.feed(line.bytes);
                asked.reset();
                if (!frames.empty()) {
                    asked = std::move(frames.back());
                }
                break;
            }
            case TraceEntry::Rx:
                if (asked) {
                    m_replies[*asked].replies.push_back(line.bytes);
                    asked.reset();
                }
                break;
            default:
                asked.reset();
                break;
        }
    }
}

std::vector<uint8_t> ReplayUnit::answer(std::span<const uint8_t> request) {
    if (request.size() < 3) {
        return {};
    }
    const uint8_t code = request[1];
    std::vector<uint8_t> reply;
    bool recorded = false;
    const auto it = m_replies.find(std::vector<uint8_t>(request.begin(), request.end()));
    if (it != m_replies.end() && !it->second.replies.empty()) {
        Recorded& r = it->second;
        reply = r.replies[std::min(r.next, r.replies.size() - 1)];
        r.next = std::min(r.next + 1, r.replies.size());
        recorded = true;
    }

    if (const Variable* v = find_written_variable(code)) {
        const uint16_t raw = request.size() == 5 ? word_at(request.data(), 2) : request[2];
        m_written[{v->read_code, v->word}] = Written{v->width, raw};
        if (!recorded) {
            reply.assign(request.begin(), request.end());
            reply[1] |= kReplyBit;
        }
        return reply;
    }
    if (is_action(code)) {
        m_generating = code == cmd::kGenerationOn;
        if (!recorded) {
            reply = {kFrameStart, static_cast<uint8_t>(code | kReplyBit), kFrameEnd};
        }
        return reply;
    }
    patch(reply, code);
    return reply;
}

// What was written since shows in a read's reply, in the place the
// registry gives it; a reply that is not a whole frame of its kind is left
// as recorded.
void ReplayUnit::patch(std::vector<uint8_t>& reply, uint8_t code) const {
    const int count = static_cast<int>(reply.size());
    if (code == cmd::kStatus) {
        if (!m_generating || !status_reply_valid(reply.data(), count)) {
            return;
        }
        const Family form = count == 5 ? Family::Kx : Family::Qm;
        const StatusBit* bit = find_status_bit("generation", form);
        for (const StatusArrayRow& row : status_arrays()) {
            if (bit != nullptr && row.family == form && row.array == bit->array) {
                uint8_t& byte = reply[static_cast<size_t>(2 + row.byte)];
                const auto mask = static_cast<uint8_t>(1u << bit->bit);
                byte = *m_generating ? byte | mask : byte & static_cast<uint8_t>(~mask);
            }
        }
        return;
    }
    const ReplyEntry* entry = find_reply(code);
    if (entry == nullptr || count != entry->length ||
        !reply_valid(reply.data(), count, code, entry->length)) {
        return;
    }
    for (const auto& [where, written] : m_written) {
        if (where.first != code) {
            continue;
        }
        if (written.width == 1) {
            reply[2] = static_cast<uint8_t>(written.raw);
            continue;
        }
        const size_t at = 2 + 2 * static_cast<size_t>(where.second);
        if (at + 2 < reply.size()) {
            reply[at] = static_cast<uint8_t>(written.raw >> 8);
            reply[at + 1] = static_cast<uint8_t>(written.raw & 0xFF);
        }
    }
}

std::string replay_port_of(const ParsedTrace& trace, int com_port, std::string& error) {
    std::vector<std::string> answered;
    for (const TraceLine& line : trace.lines) {
        if (line.entry == TraceEntry::Rx && !line.bytes.empty() &&
            std::find(answered.begin(), answered.end(), line.port) == answered.end()) {
            answered.push_back(line.port);
        }
    }
    if (answered.empty()) {
        error = "no port of the trace answered anything";
        return {};
    }
    if (answered.size() == 1) {
        return answered.front();
    }
    std::vector<std::string> named;
    std::copy_if(answered.begin(), answered.end(), std::back_inserter(named),
                 [com_port](const std::string& port) { return named_com(port, com_port); });
    if (named.size() == 1) {
        return named.front();
    }
    error = "units answered on several ports of the trace and none is COM" +
            std::to_string(com_port) + ":";
    for (const std::string& port : answered) {
        error += " " + port;
    }
    return {};
}

std::shared_ptr<ReplayUnit> load_replay(const std::string& path, int com_port, std::string& error) {
    const ParsedTrace trace = read_trace_file(path);
    if (!trace.ok()) {
        error = trace.error;
        return nullptr;
    }
    const std::string port = replay_port_of(trace, com_port, error);
    if (port.empty()) {
        error = path + ": " + error;
        return nullptr;
    }
    return std::make_shared<ReplayUnit>(trace, port);
}

}  // namespace zorvane::sim
