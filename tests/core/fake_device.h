// An in-memory device behind a PortBackend: it answers each request from its
// registers the moment the request is written, stores writes, and can be told
// to stay silent for a command. Faster and more controllable than a
// pseudo-terminal, for the cycles, the setting writes and the hand-over.
//
// The backend is used by one thread at a time (that is the hand-over's
// promise); `holders` counts the threads that have it open, so a test can see
// that promise broken.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "link/reply_catalogue.h"
#include "link/serial_port.h"

namespace zorvane::testing {

struct FakeDevice {
    // Payload of each read command of the catalogue (word or byte or words).
    std::map<uint8_t, std::vector<uint8_t>> payload;
    std::vector<uint8_t> status{0x05, 0x10};  // 2 bytes: KX form, 3 bytes: QM form
    std::vector<uint8_t> counters;            // 42 (KX) or 44 (QM) payload bytes
    std::map<uint8_t, int> silent_attempts;   // code -> requests left unanswered (-1: all)
    bool silent = false;                      // answers nothing at all
    bool fail_open = false;
    std::chrono::microseconds read_delay{0};  // time a read takes

    std::vector<std::vector<uint8_t>> writes;  // every frame written, in order
    bool keep_writes = true;                   // off for long runs
    std::vector<uint8_t> pending;              // reply waiting to be read
    std::atomic<int> holders{0};               // threads that have the port open
    std::atomic<bool> overlap{false};          // both threads had it open at once
    std::atomic<int> opens{0};
    std::atomic<bool> open{false};

    // How many requests of `code` were written.
    int requests(uint8_t code) const {
        int n = 0;
        for (const auto& frame : writes) {
            n += frame.size() == 3 && frame[1] == code;
        }
        return n;
    }
    std::vector<uint8_t> request_codes() const {
        std::vector<uint8_t> codes;
        for (const auto& frame : writes) {
            codes.push_back(frame[1]);
        }
        return codes;
    }

    void set_word(uint8_t code, uint16_t value) {
        payload[code] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    }

    void answer(const std::vector<uint8_t>& frame) {
        if (silent || frame.size() < 3) {
            return;
        }
        const uint8_t code = frame[1];
        if (auto it = silent_attempts.find(code); it != silent_attempts.end() && it->second != 0) {
            if (it->second > 0) {
                --it->second;
            }
            return;
        }
        if (frame.size() > 3) {
            // A write: the setting it writes is read by the next code.
            payload[code + 1] = std::vector<uint8_t>(frame.begin() + 2, frame.end() - 1);
            reply(code, {});
            return;
        }
        if (code == cmd::kGenerationOn || code == cmd::kGenerationOff) {
            status[0] = code == cmd::kGenerationOn ? (status[0] | 0x04) : (status[0] & ~0x04);
            reply(code, {});
        } else if (code == cmd::kStatus) {
            reply(code, status);
        } else if (code == cmd::kCounters) {
            reply(code, counters);
        } else if (auto it = payload.find(code); it != payload.end()) {
            reply(code, it->second);
        }
    }

    void reply(uint8_t code, const std::vector<uint8_t>& body) {
        pending.push_back(kFrameStart);
        pending.push_back(code | kReplyBit);
        pending.insert(pending.end(), body.begin(), body.end());
        pending.push_back(kFrameEnd);
    }

    // A device of the family with a value in every register, all distinct.
    static void fill_kx(FakeDevice& d) {
        d.payload[0x41] = {0x08, 0xFC, 0x00, 0xFA,
                           0x0B, 0xB8, 0x01, 0x09};  // 230.0 V 2.5 A 3000 VA 26.5 V
        d.payload[0x46] = {
            0, 100, 0x02, 0xAA, 0x04, 0x00, 0x07, 0x08,
            0, 0,   0x08, 0x00, 0x01, 0x00, 0x03, 0x00};  // 100 682 1024 1800 0 2048 256 768
        d.set_word(0x40, 250);                            // 25.0
        d.set_word(0x47, 307);                            // 24.951171875 °C
        d.set_word(0x4C, 2300);                           // 230.0
        d.set_word(0x4E, 225);                            // 22.5
        d.set_word(0x50, 210);                            // 21.0
        d.set_word(0x52, 3500);                           // 3500
        d.status = {0x05, 0x18};
        d.counters = counter_bytes(false);
    }
    static void fill_qm(FakeDevice& d) {
        fill_kx(d);
        d.set_word(0x58, 1700);  // 170.0
        d.set_word(0x5A, 1800);  // 180.0
        d.set_word(0x5C, 2600);  // 260.0
        d.set_word(0x5E, 2505);  // 250.5
        d.set_word(0x60, 125);   // 12.5 A
        d.payload[0x62] = {7};
        d.set_word(0x64, 120);
        d.set_word(0x66, 60);
        d.set_word(0x68, 2880);  // 2 days
        d.set_word(0x6A, 45);
        d.payload[0x6C] = {2};
        d.payload[0x6E] = {1};
        d.set_word(0x70, 30);
        d.set_word(0x72, 2999);
        d.payload[0x74] = {7};
        d.set_word(0x76, 20);
        d.payload[0x77] = {31};
        d.status = {0xC5, 0xE8, 0x81};
        d.counters = counter_bytes(true);
    }
    // Counter k holds k + 1 (counters 10 and up: two bytes that add up to it).
    static std::vector<uint8_t> counter_bytes(bool qm) {
        std::vector<uint8_t> b;
        auto u16 = [&b](uint32_t v) {
            b.push_back(static_cast<uint8_t>(v >> 8));
            b.push_back(static_cast<uint8_t>(v));
        };
        auto u32 = [&](uint32_t v) {
            u16(v >> 16);
            u16(v & 0xFFFF);
        };
        u16(1);
        for (uint32_t k = 1; k <= 5; ++k) u32(0x01000000u * k + k + 1);
        for (uint32_t k = 6; k <= 9; ++k) u16(0x0100 + k + 1);
        for (uint32_t k = 10; k <= (qm ? 16u : 15u); ++k) {
            b.push_back(1);
            b.push_back(static_cast<uint8_t>(k));
        }
        return b;
    }
};

class FakeDeviceBackend : public PortBackend {
  public:
    explicit FakeDeviceBackend(std::shared_ptr<FakeDevice> device) : m_device(std::move(device)) {}

    bool open(const std::string&) override {
        if (m_device->fail_open) {
            return false;
        }
        if (m_device->holders.fetch_add(1) != 0) {
            m_device->overlap.store(true);
        }
        ++m_device->opens;
        m_device->open.store(true);
        m_device->pending.clear();
        return true;
    }
    void close() override {
        m_device->open.store(false);
        m_device->holders.fetch_sub(1);
    }
    bool is_open() const override { return m_device->open.load(); }
    void apply_line_settings() override {}
    bool write(const uint8_t* data, size_t size) override {
        std::vector<uint8_t> frame(data, data + size);
        m_device->answer(frame);
        if (m_device->keep_writes) {
            m_device->writes.push_back(std::move(frame));
        }
        return true;
    }
    int read(uint8_t* data, size_t size) override {
        if (m_device->read_delay.count() > 0) {
            std::this_thread::sleep_for(m_device->read_delay);
        }
        auto& pending = m_device->pending;
        const size_t n = std::min(size, pending.size());
        std::copy_n(pending.begin(), n, data);
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
        return static_cast<int>(n);
    }

  private:
    std::shared_ptr<FakeDevice> m_device;
};

// A SerialPort on a fake device.
struct FakePort {
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    SerialPort port{std::make_unique<FakeDeviceBackend>(device)};
};

}  // namespace zorvane::testing
