// Both poll cycles end to end: the real serial backend on a pseudo-terminal,
// the simulated device at the other end. The slow faults (a silent device,
// counters of the other length, which run out every read's time-out) are
// covered against the in-memory device instead.
#include <gtest/gtest.h>

#include "device/poll_cycle.h"
#include "link/frame.h"
#include "scoped_env.h"
#include "sim/port_directory.h"

namespace zorvane {
namespace {

using sim::DeviceConfig;
using sim::SimulatedPort;
namespace fault = sim::fault;

class PollOverSim : public ::testing::Test {
  protected:
    // The device on COM2, opened by a port of our own.
    SimulatedPort* attach(DeviceModel model) {
        SimulatedPort* device = m_dir.add(2, DeviceConfig{model, "4711", {}});
        EXPECT_NE(device, nullptr);
        return device;
    }
    void pass(int kind) {
        ASSERT_TRUE(m_port.open(2));
        if (kind == 1) {
            poll_cycle_kx(m_port, m_state);
        } else {
            poll_cycle_qm(m_port, m_state);
        }
        m_port.close();
    }
    int requests(SimulatedPort* device, uint8_t code) {
        int n = 0;
        for (const auto& frame : device->received()) {
            n += frame.size() == 3 && frame[1] == code;
        }
        return n;
    }
    // Every field of the cycle's catalogue rows holds the device's value.
    void expect_fields_of(SimulatedPort* device, const PollCycle& cycle) {
        for (const PollStep& step : cycle.steps) {
            const ReplyEntry* entry = find_reply(step.code);
            if (step.kind != PollStep::Kind::Read || entry->field == nullptr) {
                continue;
            }
            const uint16_t raw = device->with_device([&](auto& d) { return d.value(step.code); });
            EXPECT_EQ((m_state.*entry->field).load(),
                      static_cast<float>(static_cast<double>(raw) / entry->divisor))
                << std::hex << int(step.code);
        }
        device->with_device([&](auto& d) {
            EXPECT_FLOAT_EQ(m_state.out_voltage.load(), d.value(0x41, 0) / 10.0f);
            EXPECT_FLOAT_EQ(m_state.out_current.load(), d.value(0x41, 1) / 100.0f);
            EXPECT_FLOAT_EQ(m_state.out_power.load(), d.value(0x41, 2));
            EXPECT_FLOAT_EQ(m_state.bat_voltage.load(), d.value(0x41, 3) / 10.0f);
            for (int i = 0; i < 8; ++i) {
                EXPECT_EQ(m_state.temp_raw[i].load(), d.value(0x46, i)) << i;
            }
            // Counters that do not run with the clock are exact; the times
            // and the energy can only have grown since they were read.
            const CounterValues device_counters = d.counters();
            const CounterValues read = m_state.lifetime_counters.snapshot();
            const int carried = cycle.counters_length == kCountersQmLength ? 17 : 16;
            for (int k = 0; k < carried; ++k) {
                if (k >= 1 && k <= 5) {
                    EXPECT_LE(read[k], device_counters[k]) << k;
                    EXPECT_GT(read[k], 0) << k;
                } else {
                    EXPECT_EQ(read[k], device_counters[k]) << k;
                }
            }
        });
    }

    sim::PortDirectory m_dir;
    testing::ScopedEnv m_ports{"ZORVANE_PORT_DIR", m_dir.path().c_str()};
    SerialPort m_port{make_posix_backend()};
    DeviceState m_state;
};

TEST_F(PollOverSim, KxPassFillsTheKxFieldsWithTheDevicesValues) {
    SimulatedPort* device = attach(DeviceModel::KX48);
    device->with_device([](auto& d) {
        d.set_value(0x4E, 433);
        d.set_status_byte(0, 0x05);
        d.set_status_byte(1, 0x18);
    });
    pass(1);
    expect_fields_of(device, kx_poll_cycle());
    EXPECT_FLOAT_EQ(m_state.set_ubat_low.load(), 43.3f);
    EXPECT_EQ(m_state.kx_status1[2].load(), 1);
    EXPECT_EQ(m_state.kx_status2[4].load(), 1);
    EXPECT_EQ(m_state.lifetime_counters.snapshot()[16], 0);
    EXPECT_EQ(m_state.set_urms_low_l.load(), 0.0f);  // not a KX setting
    EXPECT_EQ(m_state.qm_status1[0].load(), 0);
    // One request per read, six for the counters.
    EXPECT_EQ(device->received().size(), 15u);
}

TEST_F(PollOverSim, QmPassFillsEveryFieldWithTheDevicesValues) {
    SimulatedPort* device = attach(DeviceModel::QM24);
    device->with_device([](auto& d) {
        d.set_value(0x68, 2000);  // RFloatTime, minutes
        d.set_value(0x72, 4500);
        d.set_status_byte(0, 0xC4);
        d.set_status_byte(1, 0x20);
        d.set_status_byte(2, 0x81);
    });
    pass(2);
    expect_fields_of(device, qm_poll_cycle());
    EXPECT_FLOAT_EQ(m_state.set_rfloat_time.load(), 2000.0f / 1440.0f);
    EXPECT_FLOAT_EQ(m_state.set_egen_pmax.load(), 4500.0f);
    EXPECT_EQ(m_state.qm_status1[7].load(), 1);
    EXPECT_EQ(m_state.qm_status2[5].load(), 1);
    EXPECT_EQ(m_state.qm_status3[0].load(), 1);
    EXPECT_EQ(m_state.kx_status1[2].load(), 0);
    EXPECT_EQ(device->received().size(), 32u);
}

TEST_F(PollOverSim, LateAnswersAndAMissingReplyOverTheLine) {
    // 0x41 answered at the fourth attempt only; 0x46 never: three and six
    // silent reads of 550 ms each.
    SimulatedPort* device = attach(DeviceModel::KX24);
    device->inject(fault::answer_at_attempt(0x41, 4));
    device->inject(fault::silence(0x46));
    for (int i = 0; i < 8; ++i) {
        m_state.temp_raw[i].store(900 + i);
        m_state.temperatures[i].store(-5.0 - i);
    }
    pass(1);
    EXPECT_EQ(requests(device, 0x41), 4);
    EXPECT_EQ(requests(device, 0x46), 6);
    EXPECT_FLOAT_EQ(m_state.out_voltage.load(),
                    device->with_device([](auto& d) { return d.value(0x41, 0); }) / 10.0f);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(m_state.temp_raw[i].load(), 900 + i);
        EXPECT_EQ(m_state.temperatures[i].load(), -5.0 - i);
    }
    // The steps after the missing one ran as usual.
    EXPECT_NE(m_state.case_temperature.load(), 0.0f);
    EXPECT_EQ(requests(device, 0x53), 6);
}

TEST_F(PollOverSim, TheOtherStatusFormFillsTheOtherArrays) {
    SimulatedPort* device = attach(DeviceModel::KX24);
    device->with_device([](auto& d) { d.set_status_byte(0, 0x04); });
    device->inject(fault::other_status_form());
    m_state.kx_status1[0].store(1);
    pass(1);
    EXPECT_EQ(m_state.qm_status1[2].load(), 1);
    EXPECT_EQ(m_state.kx_status1[0].load(), 1);  // untouched
    EXPECT_EQ(m_state.kx_status1[2].load(), 0);
    EXPECT_EQ(requests(device, 0x4A), 1);
}

}  // namespace
}  // namespace zorvane
