// transact over a scripted port fed arbitrary byte streams, bursts,
// time-outs and failures, and whole KX and QM poll passes over the simulated
// device.
//
// transact: no read past the buffer, each read limited to the room left and
// to 100 bytes, at most 10 reads, the count returned is what arrived, a
// failure gives 0 and one call of the link-failure handler.
//
// A pass over the simulated device on the in-memory line, each reply spoiled
// or not by one of the simulator's faults as the input says. A pass: requests
// in the fixed order, no attempt after an accepted reply,
// and the state afterwards is exactly what the accepted replies say, every
// other field untouched: nothing is stored from a rejected reply.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

#include "device/poll_cycle.h"
#include "fuzz_check.h"
#include "link/frame.h"
#include "link/reply_catalogue.h"
#include "recording_port.h"
#include "sim/device_model.h"
#include "sim_line.h"

namespace zorvane::fuzz {
namespace {

int g_failures_reported = 0;
int g_quits_requested = 0;

void install_failure_counter() {
    static bool installed = false;
    if (!installed) {
        set_link_failure_handler([](bool quit) {
            ++g_failures_reported;
            g_quits_requested += quit ? 1 : 0;
        });
        installed = true;
    }
    g_failures_reported = 0;
    g_quits_requested = 0;
}

using testing::ScriptedRead;

ScriptedRead scripted_bytes(std::vector<uint8_t> bytes) {
    return {ScriptedRead::Kind::Bytes, std::move(bytes)};
}

// ---- transact on its own ---------------------------------------------------

void fuzz_transact_once(FuzzedDataProvider& in) {
    RecordingPort p;
    const bool open = in.ConsumeIntegralInRange<int>(0, 15) != 0;
    p.log->fail_write = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    const size_t size = in.ConsumeIntegralInRange<size_t>(kFrameBufferSize, 2 * kFrameBufferSize);
    const int write_length = in.ConsumeIntegralInRange<int>(0, 5);
    const int expected = in.ConsumeIntegralInRange<int>(0, static_cast<int>(size) + 20);
    const bool main_thread_known = in.ConsumeBool();
    device_state.g_main_thread_id.store(main_thread_known ? 1 : 0);

    const int reads = in.ConsumeIntegralInRange<int>(0, 14);
    for (int i = 0; i < reads; ++i) {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
            case 0:
                p.log->reads.push_back({ScriptedRead::Kind::Failure, {}});
                break;
            case 1:
                p.log->reads.push_back({ScriptedRead::Kind::Timeout, {}});
                break;
            default:
                p.log->reads.push_back(scripted_bytes(
                    in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 250))));
        }
    }
    if (open) {
        p.port.open(1);  // the scripted backend opens any path
        FUZZ_CHECK(p.port.is_open() || resolve_port_path(1).empty());
    }
    std::vector<uint8_t> buffer(size);  // exactly the size given: overruns are caught
    for (int i = 0; i < write_length; ++i) {
        buffer[i] = static_cast<uint8_t>(0xB0 + i);
    }
    install_failure_counter();
    const int count = transact(p.port, buffer, write_length, expected);

    if (!p.port.is_open()) {
        FUZZ_CHECK(count == -1);
        FUZZ_CHECK(p.record.empty());
        return;
    }
    FUZZ_CHECK(p.record.size() == 1);
    const Transaction& t = p.record[0];
    FUZZ_CHECK(t.request.size() == static_cast<size_t>(write_length));
    for (int i = 0; i < write_length; ++i) {
        FUZZ_CHECK(t.request[i] == 0xB0 + i);
    }
    if (t.failed) {
        FUZZ_CHECK(count == 0);
        FUZZ_CHECK(g_failures_reported == 1);
        FUZZ_CHECK(g_quits_requested == (main_thread_known ? 1 : 0));
        if (p.log->fail_write) {
            FUZZ_CHECK(t.reads == 0);
        }
        return;
    }
    FUZZ_CHECK(g_failures_reported == 0);
    FUZZ_CHECK(count >= 0 && static_cast<size_t>(count) <= size);
    FUZZ_CHECK(static_cast<size_t>(count) == t.received.size());
    FUZZ_CHECK(std::equal(t.received.begin(), t.received.end(), buffer.begin()));
    FUZZ_CHECK(t.reads >= 1 && t.reads <= 10);
    // Each read starts where the last one ended and may fill at most the room
    // left, and never more than 100 bytes.
    size_t total = 0;
    for (size_t i = 0; i < t.read_limits.size(); ++i) {
        const size_t limit = t.read_limits[i];
        FUZZ_CHECK(limit >= 1 && limit <= kFrameBufferSize && total + limit <= size);
        if (expected != 0 && i + 1 < t.read_limits.size()) {
            FUZZ_CHECK(total + static_cast<size_t>(t.read_counts[i]) !=
                       static_cast<size_t>(expected));  // no read after the exact match
        }
        total += static_cast<size_t>(t.read_counts[i]);
    }
    if (expected == 0) {
        FUZZ_CHECK(t.reads == 1 && t.read_limits[0] == kFrameBufferSize);
    } else if (count != expected) {
        // Without an exact match it runs out its reads or fills the buffer.
        FUZZ_CHECK(t.reads == 10 || static_cast<size_t>(count) == size);
    }
}

// ---- a whole pass ----------------------------------------------------------

// The simulated device on the in-memory line, its values and each of its
// replies chosen by the fuzz input: before each request reaches the device,
// one of the simulator's faults (or none) is set for that request alone.
// Whatever is sent and not read stays under way for the next request, as in
// a driver's input buffer. Every transaction is recorded.
class FaultingBackend : public Recording<testing::SimLineBackend> {
  public:
    FaultingBackend(std::shared_ptr<testing::SimLine> line, std::vector<Transaction>* record,
                    FuzzedDataProvider* in)
        : Recording(record, line), m_line(std::move(line)), m_in(in) {}

    bool write(const uint8_t* data, size_t size) override {
        if (size >= 2) {
            choose_fault(data[1]);
        }
        return Recording::write(data, size);
    }

  private:
    std::vector<uint8_t> some_bytes(size_t most) {
        return m_in->ConsumeBytes<uint8_t>(m_in->ConsumeIntegralInRange<size_t>(0, most));
    }

    void choose_fault(uint8_t code) {
        namespace fault = sim::fault;
        sim::FaultList& faults = m_line->device.faults();
        faults.clear();
        switch (m_in->ConsumeIntegralInRange<int>(0, 12)) {
            case 0:
                faults.add(fault::silence(code, 1));
                return;
            case 1: {
                sim::Fault f = fault::garbage(code, 1);
                f.bytes = some_bytes(150);  // anything at all, start and end bytes too
                if (f.bytes.empty()) {
                    f.bytes.push_back(0);
                }
                faults.add(f);
                return;
            }
            case 2:
                faults.add(fault::truncate(code, m_in->ConsumeIntegralInRange<size_t>(0, 50), 1));
                return;
            case 3: {
                const bool long_gap = m_in->ConsumeBool();
                faults.add(fault::split(code, m_in->ConsumeIntegralInRange<size_t>(1, 50),
                                        sim::Micros{long_gap ? 8000 : 1000}, 1));
                return;
            }
            case 4:
                faults.add(fault::extra_bytes(code, some_bytes(60), 1));
                return;
            case 5:
                faults.add(fault::other_status_form(1));
                faults.add(fault::other_counters_length(1));
                return;
            case 6:
                faults.add(fault::late(code, sim::Micros{700000}, 1));
                return;
            case 8:
                faults.add(fault::corrupt(code, m_in->ConsumeIntegralInRange<size_t>(0, 50),
                                          m_in->ConsumeIntegral<uint8_t>(), 1));
                return;
            case 7:
                if (m_in->ConsumeIntegralInRange<int>(0, 3) == 0) {
                    faults.add(fault::hang_up(code));
                }
                return;
            default:
                return;  // the good reply
        }
    }

    std::shared_ptr<testing::SimLine> m_line;
    FuzzedDataProvider* m_in;
};

// Every value the device sends, from the fuzz input.
void fill_device(sim::SimDevice& d, FuzzedDataProvider& in) {
    for (const ReplyEntry& entry : reply_catalogue()) {
        const int values = entry.length == 4 ? 1 : (entry.length - 3) / 2;
        for (int i = 0; i < values; ++i) {
            d.set_value(entry.code, in.ConsumeIntegral<uint16_t>(), i);
        }
    }
    for (int i = 0; i < 3; ++i) {
        d.set_status_byte(i, in.ConsumeIntegral<uint8_t>());
    }
    for (int k = 0; k < kCounterCount; ++k) {
        d.set_counter(k, in.ConsumeIntegral<uint32_t>());
    }
}

constexpr uint8_t kKxOrder[] = {0x41, 0x40, 0x46, 0x47, 0x4C, 0x4E, 0x50, 0x52, 0x4A, 0x53};
constexpr uint8_t kQmOrder[] = {0x41, 0x40, 0x46, 0x47, 0x4C, 0x4E, 0x50, 0x52, 0x4A,
                                0x58, 0x5A, 0x5C, 0x5E, 0x60, 0x62, 0x64, 0x66, 0x68,
                                0x6A, 0x6C, 0x6E, 0x70, 0x74, 0x76, 0x77, 0x72, 0x53};

// The count transact handed to the cycle for this transaction.
int count_of(const Transaction& t) {
    return t.failed ? 0 : static_cast<int>(t.received.size());
}

bool accepted_by_rule(const Transaction& t, uint8_t code, int length) {
    const int n = count_of(t);
    const auto& b = t.received;
    return n >= length && b[0] == 0xBE && b[1] == (code | 0x80) && b[length - 1] == 0xAA;
}

bool status_accepted_by_rule(const Transaction& t) {
    const int n = count_of(t);
    const auto& b = t.received;
    return (n == 5 || n == 6) && b[0] == 0xBE && b[1] == 0xCA && b[n - 1] == 0xAA;
}

void fuzz_pass(FuzzedDataProvider& in, bool qm) {
    std::vector<Transaction> record;
    auto line = std::make_shared<testing::SimLine>(
        static_cast<DeviceModel>(in.ConsumeIntegralInRange<int>(0, 3)));
    fill_device(line->device, in);
    SerialPort port{std::make_unique<FaultingBackend>(line, &record, &in)};
    device_state.g_main_thread_id.store(in.ConsumeBool() ? 1 : 0);
    port.open(1);
    FUZZ_CHECK(port.is_open());

    DeviceState state;
    fill_sentinels(state);
    DeviceState expected;
    fill_sentinels(expected);
    install_failure_counter();
    if (qm) {
        poll_cycle_qm(port, state);
    } else {
        poll_cycle_kx(port, state);
    }

    const int counters_length = qm ? kCountersQmLength : kCountersKxLength;
    const uint8_t* order = qm ? kQmOrder : kKxOrder;
    const size_t steps = qm ? std::size(kQmOrder) : std::size(kKxOrder);
    size_t t = 0;
    int failures = 0;
    bool link_failed = false;
    for (size_t step = 0; step < steps; ++step) {
        const uint8_t code = order[step];
        const ReplyEntry* entry = find_reply(code);
        const int budget = code == cmd::kCounters ? kCountersRequests : kReadAttempts;
        int attempts = 0;
        bool done = false;
        while (!done && !link_failed && attempts < budget && t < record.size()) {
            const Transaction& tr = record[t];
            FUZZ_CHECK(tr.request.size() == 3 && tr.request[0] == 0xBE && tr.request[1] == code &&
                       tr.request[2] == 0xAA);
            failures += tr.failed ? 1 : 0;
            // A link failure ends the pass right after the failing request.
            link_failed = tr.failed;
            ++attempts;
            ++t;
            if (code == cmd::kCounters) {
                // Exactly the expected count, no byte checked; every accepted
                // reply overwrites the block, and all six are sent.
                if (count_of(tr) == counters_length) {
                    expected.lifetime_counters.publish(
                        decode_counters(tr.received.data(), counters_length));
                }
            } else if (code == cmd::kStatus) {
                if (status_accepted_by_rule(tr)) {
                    store_status(expected, tr.received.data(), count_of(tr));
                    done = true;
                }
            } else {
                FUZZ_CHECK(entry != nullptr);
                if (accepted_by_rule(tr, code, entry->length)) {
                    decode_reply(*entry, tr.received.data(), expected);
                    done = true;
                }
            }
        }
        // A step with attempts left over must have ended on an accepted reply
        // or on a link failure, which ends the pass.
        FUZZ_CHECK(done || attempts == budget || link_failed);
        if (link_failed) {
            break;
        }
    }
    FUZZ_CHECK(t == record.size());
    FUZZ_CHECK(g_failures_reported == failures);

    const StateImage got = capture(state);
    const StateImage want = capture(expected);
    const std::vector<std::string> diff = changed(got, want);
    for (const std::string& name : diff) {
        std::fprintf(stderr, "stored wrongly: %s\n", name.c_str());
    }
    FUZZ_CHECK(diff.empty());
}

}  // namespace
}  // namespace zorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            zorvane::fuzz::fuzz_transact_once(in);
            break;
        case 1:
            zorvane::fuzz::fuzz_pass(in, false);
            break;
        default:
            zorvane::fuzz::fuzz_pass(in, true);
            break;
    }
    return 0;
}
