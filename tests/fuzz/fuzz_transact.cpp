// transact, and whole KX and QM poll passes, over a scripted port fed
// arbitrary byte streams, bursts, time-outs and failures.
//
// transact: no read past the buffer, each read limited to the room left and
// to 100 bytes, at most 10 reads, the count returned is what arrived, a
// failure gives 0 and one call of the link-failure handler.
//
// A pass: requests in the fixed order, no attempt after an accepted reply,
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

// Answers each request as the fuzz input says: a good reply (whole, in
// bursts, with extra bytes, late, mutated, cut short, of the other form),
// garbage, silence or a failure. Whatever is queued and not read stays queued
// for the next request, as in a driver's input buffer.
class ReactiveBackend : public RecordingBackend {
  public:
    ReactiveBackend(std::shared_ptr<Log> log, std::vector<Transaction>* record,
                    FuzzedDataProvider* in)
        : RecordingBackend(log, record), m_log(std::move(log)), m_in(in) {}

    bool write(const uint8_t* data, size_t size) override {
        const bool ok = RecordingBackend::write(data, size);
        if (size >= 2) {
            answer(data[1]);
        }
        return ok;
    }

  private:
    static int reply_length(uint8_t code, bool other_form) {
        if (code == cmd::kStatus) {
            return other_form ? kStatusLongLength : kStatusShortLength;
        }
        if (code == cmd::kCounters) {
            return other_form ? kCountersQmLength : kCountersKxLength;
        }
        const ReplyEntry* e = find_reply(code);
        const int l = e ? e->length : 5;
        return other_form ? l + 1 : l;
    }

    std::vector<uint8_t> good_reply(uint8_t code, bool other_form) {
        const int l = reply_length(code, other_form);
        std::vector<uint8_t> r = m_in->ConsumeBytes<uint8_t>(static_cast<size_t>(l));
        r.resize(static_cast<size_t>(l), 0);
        r[0] = kFrameStart;
        r[1] = code | kReplyBit;
        r[l - 1] = kFrameEnd;
        return r;
    }

    void push(std::vector<uint8_t> bytes) {
        m_log->reads.push_back(scripted_bytes(std::move(bytes)));
    }

    void answer(uint8_t code) {
        const int op = m_in->ConsumeIntegralInRange<int>(0, 10);
        switch (op) {
            case 0:
                return;  // silence
            case 1:
            case 2:
                push(good_reply(code, op == 2 && m_in->ConsumeBool()));
                return;
            case 3: {  // in bursts with gaps: one read each
                std::vector<uint8_t> r = good_reply(code, m_in->ConsumeBool());
                size_t at = 0;
                while (at < r.size()) {
                    const size_t n = m_in->ConsumeIntegralInRange<size_t>(1, r.size() - at);
                    push(
                        {r.begin() + static_cast<long>(at), r.begin() + static_cast<long>(at + n)});
                    at += n;
                }
                return;
            }
            case 4: {  // extra bytes after the end
                std::vector<uint8_t> r = good_reply(code, false);
                const std::vector<uint8_t> extra =
                    m_in->ConsumeBytes<uint8_t>(m_in->ConsumeIntegralInRange<size_t>(1, 60));
                r.insert(r.end(), extra.begin(), extra.end());
                push(std::move(r));
                return;
            }
            case 5: {  // one byte changed
                std::vector<uint8_t> r = good_reply(code, false);
                r[m_in->ConsumeIntegralInRange<size_t>(0, r.size() - 1)] ^=
                    std::max<uint8_t>(1, m_in->ConsumeIntegral<uint8_t>());
                push(std::move(r));
                return;
            }
            case 6: {  // cut short
                std::vector<uint8_t> r = good_reply(code, false);
                r.resize(m_in->ConsumeIntegralInRange<size_t>(0, r.size() - 1));
                push(std::move(r));
                return;
            }
            case 7:  // garbage
                push(m_in->ConsumeBytes<uint8_t>(m_in->ConsumeIntegralInRange<size_t>(0, 150)));
                return;
            case 8:  // late: this read times out, the reply waits for the next request
                m_log->reads.push_back({ScriptedRead::Kind::Timeout, {}});
                push(good_reply(code, false));
                return;
            case 9:
                m_log->reads.push_back({ScriptedRead::Kind::Failure, {}});
                return;
            default:  // a burst of many replies at once
                for (int i = m_in->ConsumeIntegralInRange<int>(2, 4); i > 0; --i) {
                    std::vector<uint8_t> r = good_reply(code, false);
                    if (!m_log->reads.empty() &&
                        m_log->reads.back().kind == ScriptedRead::Kind::Bytes) {
                        auto& last = m_log->reads.back().bytes;
                        last.insert(last.end(), r.begin(), r.end());
                    } else {
                        push(std::move(r));
                    }
                }
                return;
        }
    }

    std::shared_ptr<Log> m_log;
    FuzzedDataProvider* m_in;
};

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
    auto log = std::make_shared<testing::ScriptedBackend::Log>();
    SerialPort port{std::make_unique<ReactiveBackend>(log, &record, &in)};
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
    for (size_t step = 0; step < steps; ++step) {
        const uint8_t code = order[step];
        const ReplyEntry* entry = find_reply(code);
        const int budget = code == cmd::kCounters ? kCountersRequests : kReadAttempts;
        int attempts = 0;
        bool done = false;
        while (!done && attempts < budget && t < record.size()) {
            const Transaction& tr = record[t];
            FUZZ_CHECK(tr.request.size() == 3 && tr.request[0] == 0xBE && tr.request[1] == code &&
                       tr.request[2] == 0xAA);
            failures += tr.failed ? 1 : 0;
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
        // A step with attempts left over must have ended on an accepted reply.
        FUZZ_CHECK(done || attempts == budget);
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
