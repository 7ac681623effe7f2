// The fault matrix over the simulated device on a pseudo-terminal, through
// the real serial backend, for both families: a dropped reply, garbage,
// replies in bursts more than 5 ms apart, extra bytes, a reply so late that
// it arrives as the start of a later one, the other status form, the other
// counters length, and writes answered with nonsense.
//
// Each case: a pass on values A, every value of the device changed to B, the
// faulty pass, then a clean pass. After the faulty pass a step the fault
// spoiled still holds A and every other field holds B; after the clean pass
// everything holds B. Long silences are left to the in-memory matrix (a
// silent read costs 550 ms here).
#include <gtest/gtest.h>

#include "device/setting_write.h"
#include "sim_rig.h"

namespace zorvane {
namespace {

using testing::SimRig;
using testing::StateImage;
namespace fault = sim::fault;

constexpr sim::Micros kGap{60000};

constexpr DeviceModel kModels[] = {DeviceModel::KX24, DeviceModel::QM48};

// What the step the fault hits holds after the faulty pass.
enum class Outcome {
    Taken,  // B: the next good reply was accepted
    Kept,   // A: no reply of the pass was accepted
    // A or B, never anything else: whether the reader sees the bursts apart
    // depends on the machine keeping up (a reader woken more than the gap
    // late takes the whole reply, rightly). The in-memory matrix shows the
    // strict outcome.
    KeptOrTaken,
};

struct Case {
    const char* what;
    sim::Fault fault;
    uint8_t step;  // the step the fault hits
    Outcome outcome;
};

constexpr Outcome kTaken = Outcome::Taken;
constexpr Outcome kKept = Outcome::Kept;

// Runs one case on a fresh device of each family.
void run_case(const Case& c) {
    for (const DeviceModel model : kModels) {
        SimRig rig(model);
        ASSERT_NE(rig.device, nullptr);
        rig.pass();
        const StateImage a = rig.image();
        rig.change_every_value();
        rig.device->inject(c.fault);
        rig.pass();
        const StateImage faulty = rig.image();
        rig.device->clear_faults();
        rig.pass();
        const StateImage b = rig.image();

        const std::set<size_t> fields = testing::step_fields(c.step, rig.qm());
        const std::string where = std::string(rig.name()) + ", " + c.what;
        ASSERT_FALSE(testing::mismatches(b, a, b, fields).empty() && c.outcome != kTaken)
            << where << ": the step's values did not change";
        if (c.outcome == Outcome::KeptOrTaken &&
            testing::mismatches(faulty, a, b, fields).empty()) {
            continue;  // kept, and everything else taken
        }
        EXPECT_EQ(
            testing::mismatches(faulty, a, b, c.outcome == kKept ? fields : std::set<size_t>{}), "")
            << where << ": after the faulty pass";
        if (c.outcome == kKept && c.step == cmd::kCounters) {
            // Nothing of the block was replaced, not even the running times.
            const CounterValues got = testing::counters_of(faulty);
            EXPECT_EQ(got, testing::counters_of(a)) << where;
        }
    }
}

void run_cases(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        run_case(c);
    }
}

TEST(SimFaults, DroppedAndLateReplies) {
    run_cases({
        // A dropped reply is retried; the second attempt stores.
        {"dropped first reply", fault::drop_next_reply(), 0x41, kTaken},
        // Late: the reply arrives after the read has given up and is read
        // as the start of a later reply, which fails its checks; the retry
        // stores.
        {"late reply", fault::late(0x4E), 0x4E, kTaken},
        {"late status", fault::late(cmd::kStatus), cmd::kStatus, kTaken},
    });
}

TEST(SimFaults, GarbageAndBursts) {
    run_cases({
        // Garbage in place of every reply of a step: it keeps its values.
        {"garbage every time", fault::garbage(0x4C), 0x4C, kKept},
        {"garbage once", fault::garbage(0x50, 1), 0x50, kTaken},
        {"garbage to status", fault::garbage(cmd::kStatus), cmd::kStatus, kKept},
        // Bursts more than 5 ms apart: a single read takes only the first.
        // The gap is well above 5 ms so that a busy machine, waking the
        // reader late, seldom joins the bursts.
        {"bursts every time", fault::split(0x41, 4, kGap), 0x41, Outcome::KeptOrTaken},
        {"bursts once", fault::split(0x46, 9, kGap, 1), 0x46, kTaken},
        {"status in bursts once", fault::split(cmd::kStatus, 2, kGap, 1), cmd::kStatus, kTaken},
        // The counters request reads on until its length is reached.
        {"counters in bursts", fault::split(cmd::kCounters, 20, kGap), cmd::kCounters, kTaken},
    });
}

TEST(SimFaults, ExtraBytesAndTheOtherCountersLength) {
    run_cases({
        // Surplus bytes after a reply are ignored; status wants its count.
        {"extra bytes", fault::extra_bytes(0x47, {0x01, 0xBE, 0xAA}), 0x47, kTaken},
        {"extra bytes to status", fault::extra_bytes(cmd::kStatus, {0x00}), cmd::kStatus, kKept},
        // One counters reply of the other family's length is not taken; the
        // next one is. (Every one refused: the in-memory matrix, as each
        // costs ten reads here.)
        {"other counters length once", fault::other_counters_length(1), cmd::kCounters, kTaken},
    });
}

TEST(SimFaults, StatusInTheOtherFormFillsOnlyTheOtherArrays) {
    for (const DeviceModel model : kModels) {
        SimRig rig(model);
        ASSERT_NE(rig.device, nullptr);
        rig.pass();
        const StateImage a = rig.image();
        rig.change_every_value();
        rig.device->inject(fault::other_status_form());
        rig.pass();

        uint8_t sent[3];
        for (int i = 0; i < 3; ++i) {
            sent[i] = rig.device->with_device([i](sim::SimDevice& d) { return d.status_byte(i); });
        }
        const bool qm = rig.qm();
        const StatusBits* other[] = {qm ? &rig.state.kx_status1 : &rig.state.qm_status1,
                                     qm ? &rig.state.kx_status2 : &rig.state.qm_status2,
                                     qm ? nullptr : &rig.state.qm_status3};
        for (int byte = 0; byte < 3; ++byte) {
            for (int bit = 0; other[byte] && bit < 8; ++bit) {
                EXPECT_EQ((*other[byte])[bit].load(), (sent[byte] >> bit) & 1)
                    << rig.name() << " status byte " << byte << " bit " << bit;
            }
        }
        // The device's own form keeps A; everything else is B.
        const StateImage faulty = rig.image();
        std::set<size_t> own = testing::step_fields(cmd::kStatus, qm);
        const std::set<size_t> taken = testing::step_fields(cmd::kStatus, !qm);
        rig.device->clear_faults();
        rig.pass();
        StateImage b = rig.image();
        for (size_t i : taken) {
            b.bits[i] = faulty.bits[i];  // checked bit by bit above
        }
        EXPECT_EQ(testing::mismatches(faulty, a, b, own), "") << rig.name();
    }
}

TEST(SimFaults, NonsenseAnswersToWritesStoreNothingAndTheValuesAreReadBack) {
    for (const DeviceModel model : kModels) {
        SimRig rig(model);
        ASSERT_NE(rig.device, nullptr);
        rig.state.g_worker_idle.store(1);  // no worker: the loan is granted at once
        rig.state.g_com_port.store(testing::kSimPort);
        rig.pass();
        const StateImage before = rig.image();

        rig.device->inject(fault::write_nonsense());
        std::vector<std::pair<const SettingParam*, float>> written;
        for (const SettingParam& param : setting_params()) {
            if ((param.page == SettingPage::Kx) == rig.qm()) {
                continue;
            }
            const float value =
                static_cast<float>(static_cast<int>((rig.state.*param.field).load()) + 1);
            // One more each, whatever the order of the pairs: confirmed, as
            // a technician at the unit may.
            const SettingDecision d =
                write_setting(rig.port, rig.state, param, std::to_string(static_cast<int>(value)),
                              WriteOptions{.confirmed = true});
            ASSERT_EQ(d.kind, SettingDecision::Kind::Send) << param.name;
            EXPECT_TRUE(d.sent) << param.name;
            written.emplace_back(&param, value);
        }
        EXPECT_TRUE(send_action(rig.port, rig.state, cmd::kGenerationOff).sent);
        EXPECT_EQ(rig.image().bits, before.bits) << "a write stored something";
        EXPECT_EQ(rig.state.g_poll_pause.load(), 0);

        rig.pass();
        for (const auto& [param, value] : written) {
            EXPECT_EQ((rig.state.*param->field).load(), value) << rig.name() << " " << param->name;
        }
        const StatusBits& s1 = rig.qm() ? rig.state.qm_status1 : rig.state.kx_status1;
        EXPECT_EQ(s1[2].load(), 0) << rig.name() << ": generation off was taken";
    }
}

}  // namespace
}  // namespace zorvane
