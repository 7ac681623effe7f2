// The parts of the monitor that need no broker: device ids, broker
// addresses, the reconnect back-off.
#include <gtest/gtest.h>

#include "app/monitor/device_topics.h"
#include "app/monitor/mqtt_client.h"

namespace zorvane::monitor {
namespace {

TEST(MonitorUnits, DeviceIdsFromModelAndSerialOrPort) {
    const auto id = [](DeviceModel model, const std::string& caption, int port) {
        return device_identity(FoundDevice{port, model, caption}).id;
    };
    EXPECT_EQ(id(DeviceModel::QM48, "QM-48. S/N: 00042", 3), "qm48_00042");
    // Without a serial number two units of one model differ by their port.
    EXPECT_EQ(id(DeviceModel::KX24, "KX-24. S/N: не назначен", 5), "kx24_com5");
    // Whatever bytes the device sends, the id stays one topic level.
    EXPECT_EQ(id(DeviceModel::KX48, "KX-48. S/N: A/1+#", 7), "kx48_a_1__");
    EXPECT_EQ(device_identity(FoundDevice{5, DeviceModel::KX24, "KX-24. S/N: не назначен"}).serial,
              "");
}

TEST(MonitorUnits, BrokerAddresses) {
    BrokerOptions options;
    ASSERT_TRUE(parse_broker_url("mqtt://broker.lan", options));
    EXPECT_EQ(options.host, "broker.lan");
    EXPECT_EQ(options.port, 1883);
    EXPECT_TRUE(options.cafile.empty());
    ASSERT_TRUE(parse_broker_url("mqtt://10.0.0.2:1884", options));
    EXPECT_EQ(options.port, 1884);
    BrokerOptions tls;
    ASSERT_TRUE(parse_broker_url("mqtts://broker.lan", tls));
    EXPECT_EQ(tls.port, 8883);
    EXPECT_FALSE(tls.cafile.empty());
    for (const char* bad : {"broker.lan", "http://broker.lan", "mqtt://", "mqtt://h:0",
                            "mqtt://h:70000", "mqtt://h:x", "mqtt://user@h"}) {
        EXPECT_FALSE(parse_broker_url(bad, options)) << bad;
    }
}

TEST(MonitorUnits, ReconnectBackOffDoublesUpToItsCap) {
    int wait = 0;
    std::vector<int> waits;
    for (int i = 0; i < 8; ++i) {
        wait = next_backoff_s(wait, 30);
        waits.push_back(wait);
    }
    EXPECT_EQ(waits, (std::vector<int>{1, 2, 4, 8, 16, 30, 30, 30}));
}

TEST(MonitorUnits, JsonStringsEscaped) {
    EXPECT_EQ(json_string("a\"b\\c\n"), "\"a\\\"b\\\\c\\u000a\"");
    EXPECT_EQ(json_string("Наработка"), "\"Наработка\"");
}

}  // namespace
}  // namespace zorvane::monitor
