#include "sim/request_framer.h"

#include <algorithm>
#include <array>

#include "link/frame.h"
#include "link/reply_catalogue.h"

namespace zorvane::sim {

namespace {

struct CodeTable {
    std::array<uint8_t, 256> length{};     // request frame length by code, 0 = unknown
    std::array<uint8_t, 256> writes_to{};  // write code -> read code it sets
};

// Built from the reply catalogue and the registry's write codes, so the
// device knows exactly the codes the tool knows.
CodeTable make_code_table() {
    CodeTable t;
    for (const ReplyEntry& entry : reply_catalogue()) {
        t.length[entry.code] = 3;
    }
    for (uint8_t code : {cmd::kStatus, cmd::kCounters, cmd::kBatteryProbe, cmd::kSerialNumber,
                         cmd::kGenerationOn, cmd::kGenerationOff}) {
        t.length[code] = 3;
    }
    for (const Variable& v : variables()) {
        if (v.writable()) {
            t.length[v.write_code] = static_cast<uint8_t>(3 + v.width);
            t.writes_to[v.write_code] = v.read_code;
        }
    }
    return t;
}

const CodeTable& code_table() {
    static const CodeTable table = make_code_table();
    return table;
}

}  // namespace

int request_length(uint8_t code) {
    return code_table().length[code];
}

uint8_t written_read_code(uint8_t write_code) {
    return code_table().writes_to[write_code];
}

std::vector<std::vector<uint8_t>> RequestFramer::feed(std::span<const uint8_t> bytes) {
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    std::vector<std::vector<uint8_t>> frames;
    size_t i = 0;
    while (i < m_pending.size()) {
        if (m_pending[i] != kFrameStart) {
            ++i;
            ++m_skipped;
            continue;
        }
        if (i + 1 >= m_pending.size()) {
            break;  // the code has not arrived yet
        }
        const int length = request_length(m_pending[i + 1]);
        if (length == 0) {
            ++i;
            ++m_skipped;
            continue;
        }
        if (i + static_cast<size_t>(length) > m_pending.size()) {
            break;  // wait for the rest of the frame
        }
        if (m_pending[i + static_cast<size_t>(length) - 1] != kFrameEnd) {
            ++i;
            ++m_skipped;
            continue;
        }
        frames.emplace_back(m_pending.begin() + static_cast<long>(i),
                            m_pending.begin() + static_cast<long>(i) + length);
        i += static_cast<size_t>(length);
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(i));
    return frames;
}

void RequestFramer::drop_partial() {
    m_skipped += m_pending.size();
    m_pending.clear();
}

}  // namespace zorvane::sim
