#include "device/poll_cycle.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <set>

#include "device/temperature.h"
#include "fake_device.h"

namespace zorvane {
namespace {

using testing::FakeDevice;
using testing::FakePort;

const std::vector<uint8_t> kKxOrder = {0x41, 0x40, 0x46, 0x47, 0x4C, 0x4E, 0x50, 0x52,
                                       0x4A, 0x53, 0x53, 0x53, 0x53, 0x53, 0x53};
const std::vector<uint8_t> kQmOrder = {
    0x41, 0x40, 0x46, 0x47, 0x4C, 0x4E, 0x50, 0x52, 0x4A, 0x58, 0x5A, 0x5C, 0x5E, 0x60, 0x62, 0x64,
    0x66, 0x68, 0x6A, 0x6C, 0x6E, 0x70, 0x74, 0x76, 0x77, 0x72, 0x53, 0x53, 0x53, 0x53, 0x53, 0x53};

std::vector<int32_t> bits(const StatusBits& array) {
    std::vector<int32_t> out;
    for (const auto& bit : array) out.push_back(bit.load());
    return out;
}

// Expected counters of FakeDevice::counter_bytes: counter k holds k + 1, with
// the 32-bit ones carrying a high byte of k.
CounterValues expected_counters(bool qm) {
    CounterValues c{};
    c[0] = 1;
    for (int k = 1; k <= 5; ++k) c[k] = 0x01000000 * k + k + 1;
    for (int k = 6; k <= 9; ++k) c[k] = 0x100 + k + 1;
    for (int k = 10; k <= (qm ? 16 : 15); ++k) c[k] = k + 1;
    return c;
}

void expect_common_fields(const DeviceState& s) {
    EXPECT_FLOAT_EQ(s.out_voltage.load(), 230.0f);
    EXPECT_FLOAT_EQ(s.out_current.load(), 2.5f);
    EXPECT_FLOAT_EQ(s.out_power.load(), 3000.0f);
    EXPECT_FLOAT_EQ(s.bat_voltage.load(), 26.5f);
    EXPECT_FLOAT_EQ(s.set_ubat_min_on.load(), 25.0f);
    EXPECT_FLOAT_EQ(s.case_temperature.load(), 24.951171875f);
    EXPECT_FLOAT_EQ(s.set_uout_nom.load(), 230.0f);
    EXPECT_FLOAT_EQ(s.set_ubat_low.load(), 22.5f);
    EXPECT_FLOAT_EQ(s.set_ubat_min.load(), 21.0f);
    EXPECT_FLOAT_EQ(s.set_pmax.load(), 3500.0f);
    const double raw[8] = {100, 682, 1024, 1800, 0, 2048, 256, 768};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(s.temp_raw[i].load(), raw[i]) << i;
        if (i == 4 || i == 5) {
            EXPECT_TRUE(std::isnan(s.temperatures[i].load())) << i;
        } else {
            EXPECT_DOUBLE_EQ(s.temperatures[i].load(), ntc_temperature(raw[i])) << i;
        }
    }
}

TEST(PollCycle, KxPassAsksInOrderAndFillsEveryKxField) {
    FakePort fake;
    FakeDevice::fill_kx(*fake.device);
    DeviceState state;
    ASSERT_TRUE(fake.port.open(1));
    poll_cycle_kx(fake.port, state);

    EXPECT_EQ(fake.device->request_codes(), kKxOrder);
    expect_common_fields(state);
    EXPECT_EQ(bits(state.kx_status1), (std::vector<int32_t>{1, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bits(state.kx_status2), (std::vector<int32_t>{0, 0, 0, 1, 1, 0, 0, 0}));
    EXPECT_EQ(state.lifetime_counters.snapshot(), expected_counters(false));
    // Nothing of the QM family is touched by a KX pass.
    EXPECT_EQ(bits(state.qm_status1), std::vector<int32_t>(8, 0));
    EXPECT_EQ(state.set_urms_low_l.load(), 0.0f);
    EXPECT_EQ(state.set_egen_pmax.load(), 0.0f);
    EXPECT_EQ(state.bat_temperature.load(), 0.0f);
}

TEST(PollCycle, QmPassAsksInOrderAndFillsEveryField) {
    FakePort fake;
    FakeDevice::fill_qm(*fake.device);
    DeviceState state;
    ASSERT_TRUE(fake.port.open(1));
    poll_cycle_qm(fake.port, state);

    EXPECT_EQ(fake.device->request_codes(), kQmOrder);
    expect_common_fields(state);
    EXPECT_FLOAT_EQ(state.set_urms_low_l.load(), 170.0f);
    EXPECT_FLOAT_EQ(state.set_urms_low_h.load(), 180.0f);
    EXPECT_FLOAT_EQ(state.set_urms_high_h.load(), 260.0f);
    EXPECT_FLOAT_EQ(state.set_urms_high_l.load(), 250.5f);
    EXPECT_FLOAT_EQ(state.set_ichrg_nom.load(), 12.5f);
    EXPECT_FLOAT_EQ(state.set_abs_end_factor.load(), 7.0f);
    EXPECT_FLOAT_EQ(state.set_abs_time.load(), 120.0f);
    EXPECT_FLOAT_EQ(state.set_float_time.load(), 60.0f);
    EXPECT_FLOAT_EQ(state.set_rfloat_time.load(), 2.0f);
    EXPECT_FLOAT_EQ(state.set_rabs_time.load(), 45.0f);
    EXPECT_FLOAT_EQ(state.set_egen_type.load(), 2.0f);
    EXPECT_FLOAT_EQ(state.set_egen_ubat.load(), 1.0f);
    EXPECT_FLOAT_EQ(state.set_egen_on_time.load(), 30.0f);
    EXPECT_FLOAT_EQ(state.set_egen_pmax.load(), 2999.0f);
    EXPECT_FLOAT_EQ(state.set_egen_sleep.load(), 7.0f);
    EXPECT_FLOAT_EQ(state.set_egen_work.load(), 20.0f);
    EXPECT_FLOAT_EQ(state.bat_temperature.load(), 31.0f);
    EXPECT_EQ(bits(state.qm_status1), (std::vector<int32_t>{1, 0, 1, 0, 0, 0, 1, 1}));
    EXPECT_EQ(bits(state.qm_status2), (std::vector<int32_t>{0, 0, 0, 1, 0, 1, 1, 1}));
    EXPECT_EQ(bits(state.qm_status3), (std::vector<int32_t>{1, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(bits(state.kx_status1), std::vector<int32_t>(8, 0));
    EXPECT_EQ(state.lifetime_counters.snapshot(), expected_counters(true));
}

TEST(PollCycle, TablesNameCatalogueRowsAndEveryQmRowOnce) {
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
        if (step.kind == PollStep::Kind::Read) {
            EXPECT_NE(find_reply(step.code), nullptr) << int(step.code);
        }
    }
    EXPECT_EQ(kx_poll_cycle().counters_length, 45);
    EXPECT_EQ(qm_poll_cycle().counters_length, 47);
}

TEST(PollCycle, RetriesStopAtTheFirstAcceptedReplyAndGiveUpAfterSix) {
    // 0x41 answered only at the fourth attempt: four requests, no fifth.
    FakePort late;
    FakeDevice::fill_kx(*late.device);
    late.device->silent_attempts[0x41] = 3;
    DeviceState state;
    ASSERT_TRUE(late.port.open(1));
    poll_cycle_kx(late.port, state);
    EXPECT_EQ(late.device->requests(0x41), 4);
    EXPECT_FLOAT_EQ(state.out_voltage.load(), 230.0f);

    // 0x46 never answered: six requests, the temperatures of before stay.
    FakePort mute;
    FakeDevice::fill_qm(*mute.device);
    mute.device->silent_attempts[0x46] = -1;
    for (int i = 0; i < 8; ++i) {
        state.temp_raw[i].store(500 + i);
        state.temperatures[i].store(40.0 + i);
    }
    ASSERT_TRUE(mute.port.open(1));
    poll_cycle_qm(mute.port, state);
    EXPECT_EQ(mute.device->requests(0x46), 6);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(state.temp_raw[i].load(), 500 + i);
        EXPECT_EQ(state.temperatures[i].load(), 40.0 + i);
    }
    // The steps after it ran as usual.
    EXPECT_FLOAT_EQ(state.case_temperature.load(), 24.951171875f);
    EXPECT_FLOAT_EQ(state.set_egen_pmax.load(), 2999.0f);

    // Stale bytes in the input (a late reply whose echoed code lacks bit 7)
    // make the first attempt fail; the next one starts afresh and is taken.
    FakePort stale;
    stale.device->payload[0x4C] = {0x00, 0x7D};
    ASSERT_TRUE(stale.port.open(1));
    stale.device->pending = {0xBE, 0x4C, 0x00, 0x7D, 0xAA};
    DeviceState fresh;
    EXPECT_TRUE(read_with_retry(stale.port, fresh, *find_reply(0x4C)));
    EXPECT_EQ(stale.device->requests(0x4C), 2);
    EXPECT_FLOAT_EQ(fresh.set_uout_nom.load(), 12.5f);
}

TEST(PollCycle, StatusFormFillsItsOwnArraysInEitherCycle) {
    // A 6-byte status to the KX cycle fills the QM arrays only.
    FakePort kx;
    FakeDevice::fill_kx(*kx.device);
    kx.device->status = {0x04, 0x00, 0xFF};
    DeviceState state;
    state.kx_status1[0].store(1);
    ASSERT_TRUE(kx.port.open(1));
    poll_cycle_kx(kx.port, state);
    EXPECT_EQ(bits(state.qm_status1), (std::vector<int32_t>{0, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bits(state.qm_status3), std::vector<int32_t>(8, 1));
    EXPECT_EQ(bits(state.kx_status1), (std::vector<int32_t>{1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(kx.device->requests(0x4A), 1);

    // A 5-byte status to the QM cycle fills the KX arrays only.
    FakePort qm;
    FakeDevice::fill_qm(*qm.device);
    qm.device->status = {0x80, 0x01};
    ASSERT_TRUE(qm.port.open(1));
    poll_cycle_qm(qm.port, state);
    EXPECT_EQ(bits(state.kx_status1), (std::vector<int32_t>{0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(bits(state.kx_status2), (std::vector<int32_t>{1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bits(state.qm_status1), (std::vector<int32_t>{0, 0, 1, 0, 0, 0, 0, 0}));

    // Four status bytes (7 in all) are never accepted: six attempts.
    FakePort odd;
    odd.device->status = {1, 2, 3, 4};
    ASSERT_TRUE(odd.port.open(1));
    DeviceState fresh;
    poll_cycle_kx(odd.port, fresh);
    EXPECT_EQ(odd.device->requests(0x4A), 6);
    EXPECT_EQ(bits(fresh.kx_status1), std::vector<int32_t>(8, 0));
    EXPECT_EQ(bits(fresh.qm_status1), std::vector<int32_t>(8, 0));
}

TEST(PollCycle, CountersAreAskedSixTimesAndTakenOnlyAtTheCyclesLength) {
    const CounterValues before = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};

    // The QM form to the KX cycle, and the KX form to the QM cycle: kept.
    FakePort kx;
    FakeDevice::fill_kx(*kx.device);
    kx.device->counters = FakeDevice::counter_bytes(true);
    DeviceState state;
    state.lifetime_counters.publish(before);
    ASSERT_TRUE(kx.port.open(1));
    poll_cycle_kx(kx.port, state);
    EXPECT_EQ(kx.device->requests(0x53), 6);
    EXPECT_EQ(state.lifetime_counters.snapshot(), before);

    FakePort qm;
    FakeDevice::fill_qm(*qm.device);
    qm.device->counters = FakeDevice::counter_bytes(false);
    ASSERT_TRUE(qm.port.open(1));
    poll_cycle_qm(qm.port, state);
    EXPECT_EQ(qm.device->requests(0x53), 6);
    EXPECT_EQ(state.lifetime_counters.snapshot(), before);

    // The KX form to the KX cycle replaces the whole block: counter 16 is 0.
    FakePort good;
    FakeDevice::fill_kx(*good.device);
    ASSERT_TRUE(good.port.open(1));
    poll_cycle_kx(good.port, state);
    EXPECT_EQ(state.lifetime_counters.snapshot(), expected_counters(false));
    EXPECT_EQ(state.lifetime_counters.snapshot()[16], 0);
}

TEST(PollCycle, SilentDeviceLeavesEverythingAsItWas) {
    FakePort fake;
    fake.device->silent = true;
    DeviceState state;
    state.out_voltage.store(1.5f);
    state.set_ubat_low.store(2.5f);
    state.set_egen_work.store(3.5f);
    state.bat_temperature.store(4.5f);
    state.temperatures[3].store(5.5);
    state.kx_status2[4].store(1);
    state.qm_status2[5].store(1);
    const CounterValues counters = expected_counters(true);
    state.lifetime_counters.publish(counters);

    ASSERT_TRUE(fake.port.open(1));
    poll_cycle_qm(fake.port, state);
    // Every read six times, the counters six times.
    EXPECT_EQ(fake.device->writes.size(), 26u * 6 + 6);
    EXPECT_EQ(state.out_voltage.load(), 1.5f);
    EXPECT_EQ(state.set_ubat_low.load(), 2.5f);
    EXPECT_EQ(state.set_egen_work.load(), 3.5f);
    EXPECT_EQ(state.bat_temperature.load(), 4.5f);
    EXPECT_EQ(state.temperatures[3].load(), 5.5);
    EXPECT_EQ(state.kx_status2[4].load(), 1);
    EXPECT_EQ(state.qm_status2[5].load(), 1);
    EXPECT_EQ(state.lifetime_counters.snapshot(), counters);
}

TEST(PollCycle, AStopRequestEndsThePassBetweenTransactions) {
    FakePort fake;
    FakeDevice::fill_qm(*fake.device);
    DeviceState state;
    std::stop_source source;
    source.request_stop();
    ASSERT_TRUE(fake.port.open(1));
    poll_cycle_qm(fake.port, state, source.get_token());
    EXPECT_TRUE(fake.device->writes.empty());
    EXPECT_EQ(state.out_voltage.load(), 0.0f);
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

    // No temperature below 1 or from 2048 upward, and no trap for it even
    // with the floating-point exceptions unmasked.
#if defined(__GLIBC__)
    feenableexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW);
#endif
    const double none[] = {0, 2048, 2049, 65535};
    for (double x : none) {
        EXPECT_TRUE(std::isnan(ntc_temperature(x))) << x;
    }
    const bool finite = std::isfinite(ntc_temperature(1)) && std::isfinite(ntc_temperature(2047));
#if defined(__GLIBC__)
    fedisableexcept(FE_ALL_EXCEPT);
#endif
    EXPECT_TRUE(finite);
}

}  // namespace
}  // namespace zorvane
