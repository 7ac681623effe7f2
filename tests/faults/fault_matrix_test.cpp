// The fault matrix on an in-memory device: every fault on every step of both
// cycles, on every attempt (persistent) and on the first one only (a dropped
// or spoiled reply). The device first shows values A, then every one of its
// values changes to B and the faulty pass runs. Outcome, field by field:
// a rejected step keeps A, every other field holds B, nothing else is
// stored; and after a transient fault the next good reply is taken.
//
// Expectations are images of the state after the same pass on a device that
// is silent where the fault rejects, so a field written from a spoiled reply
// shows up as a difference.
#include <gtest/gtest.h>

#include <string>

#include "device/poll_cycle.h"
#include "device/setting_write.h"
#include "link/frame.h"
#include "link/reply_catalogue.h"
#include "sim_line.h"
#include "state_image.h"
#include "value_change.h"

namespace zorvane {
namespace {

using testing::SimLinePort;
using testing::StateImage;
namespace fault = sim::fault;

// The faults of the matrix, each made of the simulated device's own.
enum class Fault {
    Silence,              // no answer at all
    Garbage,              // bytes that are no frame
    Mangled,              // the end byte lost on the line, a noise byte in its place
    Bursts,               // the reply in two bursts, the second after the read gave up
    ExtraBytes,           // the reply followed by bytes that belong to nothing
    Late,                 // the reply held back past the read's time-out
    OtherStatusForm,      // 0x4A answered in the other family's form
    OtherCountersLength,  // 0x53 answered with the other family's length
    HangUp,               // the line goes away after the request is written
    NonsenseWriteAnswer,  // a write answered with a stream of junk, some of it late
};

struct FaultRule {
    uint8_t code;
    Fault fault;
    int count = -1;  // requests of `code` it hits; -1: all of them
};

const char* fault_name(Fault f) {
    switch (f) {
        case Fault::Silence:
            return "silence";
        case Fault::Garbage:
            return "garbage";
        case Fault::Mangled:
            return "mangled";
        case Fault::Bursts:
            return "bursts";
        case Fault::ExtraBytes:
            return "extra bytes";
        case Fault::Late:
            return "late";
        case Fault::OtherStatusForm:
            return "other status form";
        case Fault::OtherCountersLength:
            return "other counters length";
        case Fault::HangUp:
            return "hang-up";
        case Fault::NonsenseWriteAnswer:
            return "nonsense write answer";
    }
    return "?";
}

int reply_length(uint8_t code, bool qm) {
    if (code == cmd::kStatus) {
        return qm ? kStatusLongLength : kStatusShortLength;
    }
    if (code == cmd::kCounters) {
        return qm ? kCountersQmLength : kCountersKxLength;
    }
    const ReplyEntry* entry = find_reply(code);
    return entry ? entry->length : 5;
}

void add_rule(sim::SimDevice& d, const FaultRule& r, bool qm) {
    const int n = r.count;
    const size_t length = static_cast<size_t>(reply_length(r.code, qm));
    auto& faults = d.faults();
    switch (r.fault) {
        case Fault::Silence:
            faults.add(fault::silence(r.code, n));
            return;
        case Fault::Garbage: {
            // Longer than the reply, so that no count-only rule takes it.
            sim::Fault junk = fault::garbage(r.code, n);
            junk.bytes = sim::garbage_bytes(length + 3);
            faults.add(junk);
            return;
        }
        case Fault::Mangled:
            faults.add(fault::truncate(r.code, length - 1, n));
            faults.add(fault::extra_bytes(r.code, {0xBB}, n));
            return;
        case Fault::Bursts:
            faults.add(fault::split(r.code, length / 3, sim::Micros{8000}, n));
            return;
        case Fault::ExtraBytes:
            faults.add(fault::extra_bytes(r.code, sim::garbage_bytes(7), n));
            return;
        case Fault::Late:
            faults.add(fault::late(r.code, sim::Micros{700000}, n));
            return;
        case Fault::OtherStatusForm:
            faults.add(fault::other_status_form(n));
            return;
        case Fault::OtherCountersLength:
            faults.add(fault::other_counters_length(n));
            return;
        case Fault::HangUp:
            faults.add(fault::hang_up(r.code));
            return;
        case Fault::NonsenseWriteAnswer: {
            // More than one read takes, and some still under way after the
            // port has been given back.
            sim::Fault junk = fault::write_nonsense(n);
            junk.code = r.code;
            junk.bytes = sim::garbage_bytes(159);
            faults.add(junk);
            faults.add(fault::split(r.code, 150, sim::Micros{8000}, n));
            return;
        }
    }
}

struct Pass {
    StateImage image;
    int failures = 0;  // calls of the link-failure handler during the B pass
    int writes_b = 0;  // requests written in the B pass
};

class FaultMatrix : public ::testing::Test {
  protected:
    void SetUp() override {
        set_link_failure_handler([this](bool quit) {
            ++m_failures;
            m_quits += quit ? 1 : 0;
        });
        device_state.g_main_thread_id.store(1);
    }
    void TearDown() override {
        set_link_failure_handler(nullptr);
        device_state.g_main_thread_id.store(0);
    }

    // A pass on values A, then one on values B under `rules`.
    Pass run(bool qm, const std::vector<FaultRule>& rules) {
        SimLinePort p(qm ? DeviceModel::QM48 : DeviceModel::KX24);
        DeviceState state;
        pass(p, state, qm);
        testing::change_every_value(p.line->device);
        for (const FaultRule& r : rules) {
            add_rule(p.line->device, r, qm);
        }
        const size_t writes_before = p.line->device.received().size();
        m_failures = 0;
        m_quits = 0;
        pass(p, state, qm);
        Pass out;
        out.image = testing::capture(state);
        out.failures = m_failures;
        out.writes_b = static_cast<int>(p.line->device.received().size() - writes_before);
        EXPECT_EQ(m_quits, m_failures) << "every failure asks the window to quit";
        return out;
    }

    static void pass(SimLinePort& p, DeviceState& state, bool qm) {
        if (!p.port.open(1)) {
            return;
        }
        if (qm) {
            poll_cycle_qm(p.port, state);
        } else {
            poll_cycle_kx(p.port, state);
        }
        p.port.close();
    }

    static std::vector<uint8_t> codes(bool qm) {
        std::vector<uint8_t> out;
        for (const PollStep& step : (qm ? qm_poll_cycle() : kx_poll_cycle()).steps) {
            out.push_back(step.code);
        }
        return out;
    }

    static std::string differences(const StateImage& got, const StateImage& want) {
        std::string out;
        for (const std::string& name : testing::changed(got, want)) {
            out += " " + name;
        }
        return out;
    }

    int m_failures = 0;
    int m_quits = 0;
};

std::string hex(uint8_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", code);
    return text;
}

enum class Outcome { Taken, Kept };

// What a fault that hits every attempt of a step does to that step.
Outcome persistent_outcome(Fault fault, uint8_t code) {
    const bool counters = code == cmd::kCounters;
    const bool status = code == cmd::kStatus;
    switch (fault) {
        case Fault::Bursts:
            // Only the counters request reads on until its length is reached.
            return counters ? Outcome::Taken : Outcome::Kept;
        case Fault::ExtraBytes:
            // Surplus bytes are ignored by the general rule; the status and
            // counters rules want the exact count.
            return counters || status ? Outcome::Kept : Outcome::Taken;
        case Fault::Late:
            // The late reply is there for the next attempt's read, ahead of
            // that attempt's own reply, and is taken.
            return Outcome::Taken;
        default:
            return Outcome::Kept;
    }
}

TEST_F(FaultMatrix, EveryFaultOnEveryStepOfBothCycles) {
    const Fault faults[] = {Fault::Silence,
                            Fault::Garbage,
                            Fault::Mangled,
                            Fault::Bursts,
                            Fault::ExtraBytes,
                            Fault::Late,
                            Fault::OtherCountersLength};
    for (const bool qm : {false, true}) {
        const StateImage all_taken = run(qm, {}).image;
        for (const uint8_t code : codes(qm)) {
            const StateImage step_kept = run(qm, {{code, Fault::Silence}}).image;
            ASSERT_NE(step_kept.bits, all_taken.bits) << "step " << hex(code) << " stores nothing";
            for (const Fault fault : faults) {
                if (fault == Fault::OtherCountersLength && code != cmd::kCounters) {
                    continue;
                }
                // A counters reply is taken on its count alone: a mangled
                // reply of the right length is taken like a reply. That is
                // the counters rule, so it is tried on the other steps only.
                if (fault == Fault::Mangled && code == cmd::kCounters) {
                    continue;
                }
                const std::string what =
                    std::string(qm ? "QM" : "KX") + " step " + hex(code) + " " + fault_name(fault);
                const Pass every = run(qm, {{code, fault}});
                const StateImage& want =
                    persistent_outcome(fault, code) == Outcome::Taken ? all_taken : step_kept;
                EXPECT_EQ(every.image.bits, want.bits)
                    << what << " on every attempt; differs:" << differences(every.image, want);
                EXPECT_EQ(every.failures, 0) << what;

                const Pass once = run(qm, {{code, fault, 1}});
                EXPECT_EQ(once.image.bits, all_taken.bits)
                    << what
                    << " on the first attempt; differs:" << differences(once.image, all_taken);
            }
        }
    }
}

TEST_F(FaultMatrix, HangUpAtAnyStepKeepsTheRestAndEndsThePassWithOneReport) {
    for (const bool qm : {false, true}) {
        const std::vector<uint8_t> order = codes(qm);
        for (size_t i = 0; i < order.size(); ++i) {
            // Expected: the same pass on a device silent from this step on.
            std::vector<FaultRule> silent_from_here;
            for (size_t j = i; j < order.size(); ++j) {
                silent_from_here.push_back({order[j], Fault::Silence});
            }
            const Pass silent = run(qm, silent_from_here);
            // Requests made before the step: one per step, all answered.
            const int requests_before = static_cast<int>(i);
            const Pass hung = run(qm, {{order[i], Fault::HangUp, 1}});
            const std::string what =
                std::string(qm ? "QM" : "KX") + " hang-up at step " + hex(order[i]);
            EXPECT_EQ(hung.image.bits, silent.image.bits)
                << what << "; differs:" << differences(hung.image, silent.image);
            // The request that met the hang-up fails and is reported; the
            // pass ends there instead of running into the dropped line.
            EXPECT_EQ(hung.failures, 1) << what;
            EXPECT_GT(silent.writes_b, requests_before) << what;
        }
    }
}

TEST_F(FaultMatrix, StatusInTheOtherFormFillsOnlyTheOtherArrays) {
    for (const bool qm : {false, true}) {
        SimLinePort p(qm ? DeviceModel::QM48 : DeviceModel::KX24);
        DeviceState state;
        pass(p, state, qm);
        testing::change_every_value(p.line->device);
        p.line->device.clear_log();
        add_rule(p.line->device, {cmd::kStatus, Fault::OtherStatusForm}, qm);
        pass(p, state, qm);

        // The device's own form keeps A; the other form is taken as it came.
        uint8_t sent[3];
        for (int i = 0; i < 3; ++i) {
            sent[i] = p.line->device.status_byte(i);
        }
        const StatusBits& own1 = qm ? state.qm_status1 : state.kx_status1;
        const StatusBits* other[] = {qm ? &state.kx_status1 : &state.qm_status1,
                                     qm ? &state.kx_status2 : &state.qm_status2,
                                     qm ? nullptr : &state.qm_status3};
        for (int bit = 0; bit < 8; ++bit) {
            EXPECT_EQ(own1[bit].load(), ((sent[0] ^ 0xFF) >> bit) & 1) << bit;
            for (int byte = 0; byte < 3; ++byte) {
                if (other[byte] != nullptr) {
                    EXPECT_EQ((*other[byte])[bit].load(), (sent[byte] >> bit) & 1)
                        << "byte " << byte << " bit " << bit;
                }
            }
        }
        // And the rest of the pass is unaffected: one step, one request.
        EXPECT_EQ(p.line->requests(cmd::kStatus), 1);
    }
}

TEST_F(FaultMatrix, NonsenseAnswersToWritesChangeNothingAndTheValueIsReadBack) {
    for (const bool qm : {false, true}) {
        SimLinePort p(qm ? DeviceModel::QM48 : DeviceModel::KX24);
        DeviceState state;
        state.g_worker_idle.store(1);
        state.g_com_port.store(1);
        pass(p, state, qm);
        const StateImage before = testing::capture(state);

        // Every write and action of the family answered with junk, part of it
        // still arriving after the port has been given back.
        for (uint8_t code = 0x3F; code <= 0x75; ++code) {
            add_rule(p.line->device, {code, Fault::NonsenseWriteAnswer}, qm);
        }
        std::vector<std::pair<const SettingParam*, float>> written;
        for (const SettingParam& param : setting_params()) {
            if ((param.page == SettingPage::Kx) == qm) {
                continue;
            }
            const float value =
                static_cast<float>(static_cast<int>((state.*param.field).load()) + 1);
            // One more each, whatever the order of the pairs: confirmed, as
            // a technician at the unit may.
            const SettingDecision d =
                write_setting(p.port, state, param, std::to_string(static_cast<int>(value)),
                              WriteOptions{.confirmed = true});
            ASSERT_EQ(d.kind, SettingDecision::Kind::Send) << param.name;
            EXPECT_TRUE(d.sent) << param.name;
            written.emplace_back(&param, value);
            EXPECT_EQ(testing::capture(state).bits, before.bits)
                << param.name
                << ": a write stored something:" << differences(testing::capture(state), before);
        }
        EXPECT_TRUE(send_action(p.port, state, cmd::kGenerationOn).sent);
        EXPECT_EQ(testing::capture(state).bits, before.bits);
        EXPECT_EQ(state.g_poll_pause.load(), 0);
        EXPECT_EQ(m_failures, 0);
        EXPECT_EQ(written.size(), qm ? 20u : 5u);

        // The next pass reads every written value back, and the junk still
        // under way costs it no more than one attempt.
        pass(p, state, qm);
        for (const auto& [param, value] : written) {
            EXPECT_EQ((state.*param->field).load(), value) << param->name;
        }
        EXPECT_EQ(state.kx_status1[2].load() | state.qm_status1[2].load(), 1) << "generation on";
        const StateImage read_back = testing::capture(state);
        p.line->device.faults().clear();
        pass(p, state, qm);
        EXPECT_EQ(testing::capture(state).bits, read_back.bits)
            << "differs from a clean pass:" << differences(testing::capture(state), read_back);
    }
}

}  // namespace
}  // namespace zorvane
