#include <gtest/gtest.h>

#include "app/options.h"
#include "outputs/mqtt_sink.h"
#include "support/result_support.h"

namespace pelvaron {
namespace {

TEST(OutputOptionsTest, TheOutputsOptionsAreTakenInBothForms) {
  const Options o = ParseOptions({"--events", "-", "--on-event=notify.sh", "--on-event-timeout", "3", "--mqtt",
                                  "mqtts://broker.local", "--mqtt-ca", "ca.pem", "--mqtt-credentials=cred",
                                  "--station", "пост-1", "--mqtt-discovery", "--mqtt-commands", "--headless"});
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.eventsPath, "-");
  EXPECT_EQ(o.onEvent, "notify.sh");
  EXPECT_EQ(o.onEventTimeoutMs, 3000);
  EXPECT_EQ(o.mqttUrl, "mqtts://broker.local");
  EXPECT_EQ(o.mqttCa, "ca.pem");
  EXPECT_EQ(o.mqttCredentials, "cred");
  EXPECT_EQ(o.station, "пост-1");
  EXPECT_EQ(o.mqttDiscovery, "homeassistant");
  EXPECT_TRUE(o.mqttCommands);
  EXPECT_TRUE(o.headless);
  EXPECT_EQ(ParseOptions({"--mqtt", "mqtt://h", "--mqtt-discovery=ha"}).mqttDiscovery, "ha");
}

TEST(OutputOptionsTest, PasswordsOnTheCommandLineAndOptionsWithoutTheirPartnerAreRefused) {
  EXPECT_NE(ParseOptions({"--mqtt", "mqtt://h", "--mqtt-password", "x"}).error.find("never taken from the command line"),
            std::string::npos);
  EXPECT_NE(ParseOptions({"--mqtt-user=x"}).error.find("PELVARON_MQTT_USER"), std::string::npos);
  EXPECT_EQ(ParseOptions({"--mqtt-ca", "ca.pem"}).error, "--mqtt-ca needs --mqtt");
  EXPECT_EQ(ParseOptions({"--mqtt-discovery"}).error, "--mqtt-discovery needs --mqtt");
  EXPECT_EQ(ParseOptions({"--mqtt-commands"}).error, "--mqtt-commands needs --mqtt");
  EXPECT_EQ(ParseOptions({"--events"}).error, "--events needs a value (see --help)");
  EXPECT_EQ(ParseOptions({"--on-event", ""}).error, "--on-event needs a value that is not empty");
  EXPECT_NE(ParseOptions({"--on-event-timeout", "0"}).error, "");
  EXPECT_NE(ParseOptions({"--on-event-timeout", "5s"}).error, "");
}

TEST(OutputOptionsTest, BrokerAddresses) {
  Result<MqttUrl> url = ParseMqttUrl("mqtt://127.0.0.1:18830");
  ASSERT_TRUE(testing::Succeeded(url));
  EXPECT_FALSE(url->tls);
  EXPECT_EQ(url->host, "127.0.0.1");
  EXPECT_EQ(url->port, 18830);
  url = ParseMqttUrl("mqtts://broker.example/");
  ASSERT_TRUE(testing::Succeeded(url));
  EXPECT_TRUE(url->tls);
  EXPECT_EQ(url->host, "broker.example");
  EXPECT_EQ(url->port, 8883);
  url = ParseMqttUrl("mqtt://[::1]:1884");
  ASSERT_TRUE(testing::Succeeded(url));
  EXPECT_EQ(url->host, "::1");
  EXPECT_EQ(url->port, 1884);
  url = ParseMqttUrl("mqtt://localhost");
  ASSERT_TRUE(testing::Succeeded(url));
  EXPECT_EQ(url->port, 1883);
  for (const char* bad : {"http://h", "mqtt://", "mqtt://h:", "mqtt://h:0", "mqtt://h:65536", "mqtt://h:1x",
                          "mqtt://user:secret@h", "mqtt://[::1", "mqtt://h/path"}) {
    url = ParseMqttUrl(bad);
    EXPECT_FALSE(url) << bad;
    EXPECT_NE(testing::ProblemOf(url).text, "") << bad;
  }
}

}  // namespace
}  // namespace pelvaron
