// Ports that also record what each read handed back, and the transactions
// they saw: a transaction starts with a write and collects the bytes of the
// reads that follow it. The fuzz targets check the code under
// test against this record, not against a second copy of its rules.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "scripted_port.h"

namespace zorvane::fuzz {

struct Transaction {
    std::vector<uint8_t> request;
    std::vector<uint8_t> received;    // all bytes read, in order
    std::vector<size_t> read_limits;  // the size asked of each read
    std::vector<int> read_counts;     // what each read gave (-1: failure)
    int reads = 0;
    bool failed = false;  // a read reported an error (or the write failed)
};

// Records, around any backend, what each write sent and each read gave.
template <typename Backend>
class Recording : public Backend {
  public:
    template <typename... Args>
    explicit Recording(std::vector<Transaction>* record, Args&&... backend_args)
        : Backend(std::forward<Args>(backend_args)...), m_record(record) {}

    bool write(const uint8_t* data, size_t size) override {
        m_record->push_back({});
        m_record->back().request.assign(data, data + size);
        const bool ok = Backend::write(data, size);
        m_record->back().failed = !ok;
        return ok;
    }
    int read(uint8_t* data, size_t size) override {
        const int n = Backend::read(data, size);
        if (m_record->empty()) {
            m_record->push_back({});  // a read without a request: shows up as a fault
        }
        Transaction& t = m_record->back();
        ++t.reads;
        t.read_limits.push_back(size);
        t.read_counts.push_back(n);
        if (n < 0) {
            t.failed = true;
        } else {
            t.received.insert(t.received.end(), data, data + n);
        }
        return n;
    }

  private:
    std::vector<Transaction>* m_record;
};

// A scripted port, recorded.
struct RecordingPort {
    std::shared_ptr<testing::ScriptedBackend::Log> log =
        std::make_shared<testing::ScriptedBackend::Log>();
    std::vector<Transaction> record;
    SerialPort port{std::make_unique<Recording<testing::ScriptedBackend>>(&record, log)};
};

}  // namespace zorvane::fuzz
