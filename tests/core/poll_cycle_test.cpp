// Both poll cycles against the simulated device, reached in memory and over
// a pseudo-terminal with the real serial backend. The cases whose faults run
// out every read's time-out (a silent device, counters of the other length,
// about a minute on a real line) run in memory only.
#include "device/poll_cycle.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <functional>
#include <set>

#include "link/frame.h"
#include "link/temperature.h"
#include "scoped_env.h"
#include "sim/port_directory.h"
#include "sim_line.h"

namespace zorvane {
namespace {

namespace fault = sim::fault;
using Bytes = std::vector<uint8_t>;
using DeviceFn = std::function<void(sim::SimDevice&)>;

// A simulated device and a port that reaches it.
class Line {
  public:
    virtual ~Line() = default;
    virtual SerialPort& port() = 0;
    virtual void with_device(const DeviceFn& f) = 0;
    virtual std::vector<std::vector<uint8_t>> received() = 0;

    void inject(sim::Fault f) {
        with_device([&](sim::SimDevice& d) { d.faults().add(f); });
    }
    int requests(uint8_t code) {
        int n = 0;
        for (const auto& frame : received()) n += frame.size() == 3 && frame[1] == code;
        return n;
    }
    Bytes request_codes() {
        Bytes codes;
        for (const auto& frame : received()) codes.push_back(frame[1]);
        return codes;
    }
    // One pass of the family's cycle over an opened port.
    void pass(DeviceState& state, DeviceModel model) {
        ASSERT_TRUE(port().open(2));
        if (sim::is_qm(model)) {
            poll_cycle_qm(port(), state);
        } else {
            poll_cycle_kx(port(), state);
        }
        port().close();
    }
};

class MemoryLine : public Line {
  public:
    explicit MemoryLine(DeviceModel model) : m_sim(model) {}
    SerialPort& port() override { return m_sim.port; }
    void with_device(const DeviceFn& f) override { f(m_sim.line->device); }
    std::vector<std::vector<uint8_t>> received() override { return m_sim.line->device.received(); }
    testing::SimLine& line() { return *m_sim.line; }

  private:
    testing::SimLinePort m_sim;
};

class PtyLine : public Line {
  public:
    explicit PtyLine(DeviceModel model) : m_device(m_dir.add(2, {model, "4711", {}})) {}
    SerialPort& port() override { return m_port; }
    void with_device(const DeviceFn& f) override {
        m_device->with_device([&](sim::SimDevice& d) { f(d); });
    }
    std::vector<std::vector<uint8_t>> received() override { return m_device->received(); }

  private:
    sim::PortDirectory m_dir;
    testing::ScopedEnv m_env{"ZORVANE_PORT_DIR", m_dir.path().c_str()};
    sim::SimulatedPort* m_device;
    SerialPort m_port{make_posix_backend()};
};

enum class Transport { Memory, Pty };

std::unique_ptr<Line> make_line(Transport transport, DeviceModel model) {
    if (transport == Transport::Memory) {
        return std::make_unique<MemoryLine>(model);
    }
    return std::make_unique<PtyLine>(model);
}

const Bytes kKxOrder = {0x41, 0x40, 0x46, 0x47, 0x4C, 0x4E, 0x50, 0x52,
                        0x4A, 0x53, 0x53, 0x53, 0x53, 0x53, 0x53};
const Bytes kQmOrder = {0x41, 0x40, 0x46, 0x47, 0x4C, 0x4E, 0x50, 0x52, 0x4A, 0x58, 0x5A,
                        0x5C, 0x5E, 0x60, 0x62, 0x64, 0x66, 0x68, 0x6A, 0x6C, 0x6E, 0x70,
                        0x74, 0x76, 0x77, 0x72, 0x53, 0x53, 0x53, 0x53, 0x53, 0x53};

std::vector<int32_t> bits(const StatusBits& array) {
    std::vector<int32_t> out;
    for (const auto& bit : array) out.push_back(bit.load());
    return out;
}
std::vector<int32_t> bits_of(uint8_t byte) {
    std::vector<int32_t> out;
    for (int i = 0; i < 8; ++i) out.push_back((byte >> i) & 1);
    return out;
}

// Every field of the cycle's steps holds what the device sent.
void expect_device_values(Line& line, const DeviceState& s, const PollCycle& cycle) {
    line.with_device([&](sim::SimDevice& d) {
        for (const PollStep& step : cycle.steps) {
            const ReplyEntry* entry = find_reply(step.code);
            if (step.kind != PollStep::Kind::Read || entry->variables.size() != 1) {
                continue;
            }
            const Variable& v = *entry->variables[0];
            if (!v.is_array() && v.conversion == Conversion::Scaled) {
                EXPECT_EQ((s.*v.field).load(),
                          static_cast<float>(d.value(step.code) / double(v.scale)))
                    << std::hex << int(step.code);
            }
        }
        EXPECT_EQ(s.out_voltage.load(), static_cast<float>(d.value(0x41, 0) / 10.0));
        EXPECT_EQ(s.out_current.load(), static_cast<float>(d.value(0x41, 1) / 100.0));
        EXPECT_EQ(s.out_power.load(), d.value(0x41, 2));
        EXPECT_EQ(s.bat_voltage.load(), static_cast<float>(d.value(0x41, 3) / 10.0));
        EXPECT_EQ(s.case_temperature.load(), case_sensor_temperature(d.value(0x47)));
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(s.temp_raw[i].load(), d.value(0x46, i)) << i;
            const double t = ntc_temperature(d.value(0x46, i));
            if (std::isnan(t)) {
                EXPECT_TRUE(std::isnan(s.temperatures[i].load())) << i;
            } else {
                EXPECT_EQ(s.temperatures[i].load(), t) << i;
            }
        }
        // Counters that do not run with the clock are exact; the times and
        // the energy can only have grown since they were read.
        const CounterValues device = d.counters();
        const CounterValues read = s.lifetime_counters.snapshot();
        const int carried = cycle.counters_length == kCountersQmLength ? 17 : 16;
        for (int k = 0; k < kCounterCount; ++k) {
            if (k >= carried) {
                EXPECT_EQ(read[k], 0) << k;
            } else if (k >= 1 && k <= 5) {
                EXPECT_LE(read[k], device[k]) << k;
                EXPECT_GT(read[k], 0) << k;
            } else {
                EXPECT_EQ(read[k], device[k]) << k;
            }
        }
    });
}

class PollCycle : public ::testing::TestWithParam<Transport> {};

TEST_P(PollCycle, EachCycleAsksInOrderAndFillsItsFieldsWithTheDevicesValues) {
    for (DeviceModel model : {DeviceModel::KX48, DeviceModel::QM24}) {
        const bool qm = sim::is_qm(model);
        auto line = make_line(GetParam(), model);
        line->with_device([](sim::SimDevice& d) {
            d.set_value(0x4E, 433);   // UbatLow 43.3
            d.set_value(0x68, 2000);  // RFloatTime, minutes
            d.set_value(0x46, 0, 4);  // thermistors without a temperature
            d.set_value(0x46, 2048, 5);
            d.set_status_byte(0, 0xC5);
            d.set_status_byte(1, 0x38);
            d.set_status_byte(2, 0x81);
            d.set_counter(10, 300);  // sent as two bytes that add up
        });
        DeviceState state;
        line->pass(state, model);

        EXPECT_EQ(line->request_codes(), qm ? kQmOrder : kKxOrder);
        expect_device_values(*line, state, qm ? qm_poll_cycle() : kx_poll_cycle());
        EXPECT_FLOAT_EQ(state.set_ubat_low.load(), 43.3f);
        EXPECT_TRUE(std::isnan(state.temperatures[4].load()));
        EXPECT_TRUE(std::isnan(state.temperatures[5].load()));
        EXPECT_EQ(state.lifetime_counters.snapshot()[10], 300);
        if (qm) {
            EXPECT_FLOAT_EQ(state.set_rfloat_time.load(), 2000.0f / 1440.0f);
            EXPECT_EQ(bits(state.qm_status1), bits_of(0xC5));
            EXPECT_EQ(bits(state.qm_status2), bits_of(0x38));
            EXPECT_EQ(bits(state.qm_status3), bits_of(0x81));
            EXPECT_EQ(bits(state.kx_status1), bits_of(0));
        } else {
            EXPECT_EQ(bits(state.kx_status1), bits_of(0xC5));
            EXPECT_EQ(bits(state.kx_status2), bits_of(0x38));
            EXPECT_EQ(bits(state.qm_status1), bits_of(0));
            // A KX pass never touches a setting of the QM family.
            EXPECT_EQ(state.set_rfloat_time.load(), 0.0f);
            EXPECT_EQ(state.bat_temperature.load(), 0.0f);
        }
    }
}

TEST_P(PollCycle, AReplyIsRetriedUntilAcceptedAndGivenUpAfterSix) {
    // 0x41 answered only at the fourth attempt (no fifth request); 0x46
    // never (its fields keep their values; the pass goes on).
    auto line = make_line(GetParam(), DeviceModel::KX24);
    line->inject(fault::answer_at_attempt(0x41, 4));
    line->inject(fault::silence(0x46));
    DeviceState state;
    for (int i = 0; i < 8; ++i) {
        state.temp_raw[i].store(900 + i);
        state.temperatures[i].store(-5.0 - i);
    }
    line->pass(state, DeviceModel::KX24);
    EXPECT_EQ(line->requests(0x41), 4);
    EXPECT_EQ(line->requests(0x46), 6);
    line->with_device([&](sim::SimDevice& d) {
        EXPECT_EQ(state.out_voltage.load(), static_cast<float>(d.value(0x41, 0) / 10.0));
        EXPECT_EQ(state.case_temperature.load(), case_sensor_temperature(d.value(0x47)));
    });
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(state.temp_raw[i].load(), 900 + i);
        EXPECT_EQ(state.temperatures[i].load(), -5.0 - i);
    }
    EXPECT_EQ(line->requests(0x53), 6);
}

TEST_P(PollCycle, TheOtherStatusFormFillsTheOtherArraysInEitherCycle) {
    for (DeviceModel model : {DeviceModel::KX24, DeviceModel::QM48}) {
        auto line = make_line(GetParam(), model);
        line->with_device([](sim::SimDevice& d) {
            d.set_status_byte(0, 0x04);
            d.set_status_byte(1, 0x10);
        });
        line->inject(fault::other_status_form());
        DeviceState state;
        StatusBits& own = sim::is_qm(model) ? state.qm_status1 : state.kx_status1;
        StatusBits& other = sim::is_qm(model) ? state.kx_status1 : state.qm_status1;
        own[0].store(1);
        line->pass(state, model);
        EXPECT_EQ(bits(other), bits_of(0x04));
        EXPECT_EQ(bits(own), bits_of(0x01));  // untouched
        EXPECT_EQ(line->requests(0x4A), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Line, PollCycle, ::testing::Values(Transport::Memory, Transport::Pty),
                         [](const auto& info) {
                             return info.param == Transport::Memory ? "InMemory" : "OverPty";
                         });

TEST(PollCycleInMemory, CountersAreAskedSixTimesAndTakenOnlyAtTheCyclesLength) {
    const CounterValues before = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    for (DeviceModel model : {DeviceModel::KX24, DeviceModel::QM24}) {
        MemoryLine line(model);
        line.inject(fault::other_counters_length());
        DeviceState state;
        state.lifetime_counters.publish(before);
        line.pass(state, model);
        EXPECT_EQ(line.requests(0x53), 6);
        EXPECT_EQ(state.lifetime_counters.snapshot(), before);
    }
}

TEST(PollCycleInMemory, SilentDeviceLeavesEverythingAsItWas) {
    MemoryLine line(DeviceModel::QM48);
    line.inject(fault::silence());
    DeviceState state;
    state.out_voltage.store(1.5f);
    state.set_ubat_low.store(2.5f);
    state.set_egen_work.store(3.5f);
    state.bat_temperature.store(4.5f);
    state.temperatures[3].store(5.5);
    state.kx_status2[4].store(1);
    state.qm_status2[5].store(1);
    const CounterValues counters = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    state.lifetime_counters.publish(counters);
    line.pass(state, DeviceModel::QM48);
    EXPECT_EQ(line.received().size(), 26u * 6 + 6);
    EXPECT_EQ(state.out_voltage.load(), 1.5f);
    EXPECT_EQ(state.set_ubat_low.load(), 2.5f);
    EXPECT_EQ(state.set_egen_work.load(), 3.5f);
    EXPECT_EQ(state.bat_temperature.load(), 4.5f);
    EXPECT_EQ(state.temperatures[3].load(), 5.5);
    EXPECT_EQ(state.kx_status2[4].load(), 1);
    EXPECT_EQ(state.qm_status2[5].load(), 1);
    EXPECT_EQ(state.lifetime_counters.snapshot(), counters);
}

TEST(PollCycleInMemory, StaleBytesFailOneAttemptAndAStopEndsThePass) {
    // The tail of a late reply (its code lacks bit 7) is read as the start of
    // the next one: that attempt fails, the next starts afresh.
    MemoryLine stale(DeviceModel::KX24);
    stale.with_device([](sim::SimDevice& d) { d.set_value(0x4C, 125); });
    ASSERT_TRUE(stale.port().open(1));
    stale.line().plant({0xBE, 0x4C, 0x00, 0x7D, 0xAA});
    DeviceState state;
    EXPECT_TRUE(read_with_retry(stale.port(), state, *find_reply(0x4C)));
    EXPECT_EQ(stale.requests(0x4C), 2);
    EXPECT_FLOAT_EQ(state.set_uout_nom.load(), 12.5f);

    // A stop requested before the pass: nothing is asked, nothing stored.
    MemoryLine stopped(DeviceModel::QM24);
    std::stop_source source;
    source.request_stop();
    ASSERT_TRUE(stopped.port().open(1));
    DeviceState untouched;
    poll_cycle_qm(stopped.port(), untouched, source.get_token());
    EXPECT_TRUE(stopped.received().empty());
    EXPECT_EQ(untouched.out_voltage.load(), 0.0f);
}

TEST(PollCycleTables, StepsNameCatalogueRowsAndTheQmPassReadsEveryRowOnce) {
    std::multiset<uint8_t> qm_reads;
    for (const PollStep& step : qm_poll_cycle().steps) {
        if (step.kind == PollStep::Kind::Read) {
            EXPECT_NE(find_reply(step.code), nullptr) << int(step.code);
            qm_reads.insert(step.code);
        }
    }
    for (const ReplyEntry& entry : reply_catalogue()) {
        EXPECT_EQ(qm_reads.count(entry.code), 1u) << int(entry.code);
    }
    for (const PollStep& step : kx_poll_cycle().steps) {
        EXPECT_TRUE(step.kind != PollStep::Kind::Read || find_reply(step.code) != nullptr);
    }
    EXPECT_EQ(kx_poll_cycle().counters_length, 45);
    EXPECT_EQ(qm_poll_cycle().counters_length, 47);
}

TEST(Temperature, ThermistorAndCaseSensorTables) {
    EXPECT_NEAR(ntc_temperature(100), 86.27, 0.005);
    EXPECT_NEAR(ntc_temperature(682), 24.98, 0.005);
    EXPECT_NEAR(ntc_temperature(1024), 9.81, 0.005);
    EXPECT_NEAR(ntc_temperature(1800), -26.99, 0.005);
    EXPECT_EQ(case_sensor_temperature(0), -50.0f);
    EXPECT_EQ(case_sensor_temperature(307), 24.951171875f);
    EXPECT_EQ(case_sensor_temperature(400), 47.65625f);
    EXPECT_EQ(case_sensor_temperature(1023), 199.755859375f);

    // No temperature for 0 or from 2048 upward, and no trap for it even
    // with the floating-point exceptions unmasked.
#if defined(__GLIBC__)
    feenableexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW);
#endif
    bool none = true;
    for (double x : {0.0, 2048.0, 2049.0, 65535.0}) none = none && std::isnan(ntc_temperature(x));
    const bool finite = std::isfinite(ntc_temperature(1)) && std::isfinite(ntc_temperature(2047));
#if defined(__GLIBC__)
    fedisableexcept(FE_ALL_EXCEPT);
#endif
    EXPECT_TRUE(none);
    EXPECT_TRUE(finite);
}

}  // namespace
}  // namespace zorvane
