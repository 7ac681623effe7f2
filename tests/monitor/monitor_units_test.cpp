// The parts of the monitor that need no broker: device ids, broker
// addresses, the reconnect back-off.
#include <gtest/gtest.h>

#include "app/monitor/device_topics.h"
#include "app/monitor/mqtt_client.h"

namespace zorvane::monitor {
namespace {

TEST(MonitorUnits, DeviceIdsFromModelAndSerialOrPort) {
    const auto identity = [](DeviceModel model, const std::string& serial, int port) {
        FoundDevice found;
        found.port = port;
        found.model = model;
        found.serial = serial;
        return device_identity(found);
    };
    EXPECT_EQ(identity(DeviceModel::QM48, "00042", 3).id, "qm48_00042");
    EXPECT_EQ(identity(DeviceModel::QM48, "00042", 3).serial, "00042");
    // Without a serial number two units of one model differ by their port.
    EXPECT_EQ(identity(DeviceModel::KX24, "не назначен", 5).id, "kx24_com5");
    EXPECT_EQ(identity(DeviceModel::KX24, "не назначен", 5).serial, "");
    // Whatever bytes the device sends, the id stays one topic level.
    EXPECT_EQ(identity(DeviceModel::KX48, "A/1+#", 7).id, "kx48_a_1__");
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
