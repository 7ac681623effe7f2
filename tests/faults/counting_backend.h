// A PortBackend that passes everything to another one and counts what went
// through: opens tried and refused, and transactions (a write and the reads
// that follow it) that failed. The counts are atomics: the worker writes
// them, the test thread reads them.
#pragma once

#include <atomic>
#include <memory>

#include "link/serial_port.h"

namespace zorvane::testing {

struct PortCounts {
    std::atomic<int> opens{0};
    std::atomic<int> refused_opens{0};
    std::atomic<int> writes{0};
    std::atomic<int> failed_transactions{0};
};

class CountingBackend : public PortBackend {
  public:
    CountingBackend(std::unique_ptr<PortBackend> inner, std::shared_ptr<PortCounts> counts)
        : m_inner(std::move(inner)), m_counts(std::move(counts)) {}

    PortOpen open(const std::string& path) override {
        ++m_counts->opens;
        PortOpen result = m_inner->open(path);
        m_counts->refused_opens += result ? 0 : 1;
        return result;
    }
    void close() override { m_inner->close(); }
    bool is_open() const override { return m_inner->is_open(); }
    void apply_line_settings() override { m_inner->apply_line_settings(); }
    bool write(const uint8_t* data, size_t size) override {
        ++m_counts->writes;
        m_failed = false;
        const bool ok = m_inner->write(data, size);
        if (!ok) {
            fail();
        }
        return ok;
    }
    int read(uint8_t* data, size_t size) override {
        const int n = m_inner->read(data, size);
        if (n < 0) {
            fail();
        }
        return n;
    }

  private:
    void fail() {
        if (!m_failed) {
            m_failed = true;
            ++m_counts->failed_transactions;
        }
    }

    std::unique_ptr<PortBackend> m_inner;
    std::shared_ptr<PortCounts> m_counts;
    bool m_failed = false;  // the current transaction has failed already
};

}  // namespace zorvane::testing
