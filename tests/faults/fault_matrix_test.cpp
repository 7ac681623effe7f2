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
#include "faulty_device.h"
#include "pages/setting_write.h"
#include "state_image.h"
#include "value_change.h"

namespace zorvane {
namespace {

using testing::Fault;
using testing::FaultRule;
using testing::FaultyPort;
using testing::StateImage;

const char* fault_name(Fault f) {
    switch (f) {
        case Fault::None:
            return "none";
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
        case Fault::LateTail:
            return "late tail";
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
        FaultyPort p(qm ? DeviceModel::QM48 : DeviceModel::KX24);
        DeviceState state;
        pass(p, state, qm);
        testing::change_every_value(p.device->registers);
        p.device->rules = rules;
        p.device->restart_count();
        const size_t writes_before = p.device->writes.size();
        m_failures = 0;
        m_quits = 0;
        pass(p, state, qm);
        Pass out;
        out.image = testing::capture(state);
        out.failures = m_failures;
        out.writes_b = static_cast<int>(p.device->writes.size() - writes_before);
        EXPECT_EQ(m_quits, m_failures) << "every failure asks the window to quit";
        return out;
    }

    static void pass(FaultyPort& p, DeviceState& state, bool qm) {
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
                            Fault::LateTail,
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
                // reply of the right length, or a late tail and the head of
                // the next reply that add up to it, are taken like a reply.
                // That is the counters rule, so these two are tried on the
                // other steps only.
                if ((fault == Fault::LateTail || fault == Fault::Mangled) &&
                    code == cmd::kCounters) {
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

                const Pass once = run(qm, {{code, fault, 0, 1}});
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
            const Pass hung = run(qm, {{order[i], Fault::HangUp, 0, 1}});
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
        FaultyPort p(qm ? DeviceModel::QM48 : DeviceModel::KX24);
        DeviceState state;
        pass(p, state, qm);
        testing::change_every_value(p.device->registers);
        p.device->rules = {{cmd::kStatus, Fault::OtherStatusForm}};
        pass(p, state, qm);

        // The device's own form keeps A; the other form is taken as it came.
        uint8_t sent[3];
        for (int i = 0; i < 3; ++i) {
            sent[i] = p.device->registers.status_byte(i);
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
        EXPECT_EQ(p.device->requests(cmd::kStatus), 2);
    }
}

TEST_F(FaultMatrix, NonsenseAnswersToWritesChangeNothingAndTheValueIsReadBack) {
    for (const bool qm : {false, true}) {
        FaultyPort p(qm ? DeviceModel::QM48 : DeviceModel::KX24);
        DeviceState state;
        state.g_worker_idle.store(1);
        state.g_com_port.store(1);
        pass(p, state, qm);
        const StateImage before = testing::capture(state);

        // Every write and action of the family answered with junk, part of it
        // still arriving after the port has been given back.
        for (uint8_t code = 0x3F; code <= 0x75; ++code) {
            p.device->rules.push_back({code, Fault::NonsenseWriteAnswer});
        }
        std::vector<std::pair<const SettingParam*, float>> written;
        for (const SettingParam& param : setting_params()) {
            if ((param.page == SettingPage::Kx) == qm) {
                continue;
            }
            const float value =
                static_cast<float>(static_cast<int>((state.*param.field).load()) + 1);
            const SettingDecision d =
                write_setting(p.port, state, param, std::to_string(static_cast<int>(value)));
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
        p.device->rules.clear();
        pass(p, state, qm);
        EXPECT_EQ(testing::capture(state).bits, read_back.bits)
            << "differs from a clean pass:" << differences(testing::capture(state), read_back);
    }
}

}  // namespace
}  // namespace zorvane
