#pragma once

#include <string>
#include <string_view>

#include "core/result.h"
#include "outputs/disk_queue.h"
#include "outputs/mosquitto_library.h"

namespace pelvaron {

struct MqttUrl {
  bool tls = false;
  std::string host;
  int port = 1883;
};

// "mqtt://host[:port]" (1883) or "mqtts://host[:port]" (8883); an IPv6
// address in brackets. A user or password in the address is refused: they
// would show in the process list. The refusals are the command line's, in
// English.
Result<MqttUrl> ParseMqttUrl(std::string_view url);

struct MqttConfig {
  MqttUrl url;
  std::string caFile;  // mqtts: the CA certificate; otherwise the system's CAs
  std::string user;
  std::string password;
  std::string credentialsFile;  // read again before each connection when given: user, password
  std::string station;
  std::string discoveryPrefix;  // empty: no discovery messages
  bool commands = false;        // requests to the alarm desk are heard (command/+)
  std::string queueDir = "mqtt-queue";
  DiskQueue::Limits queueLimits;
  const char* library = MosquittoLibrary::kName;
  int keepaliveS = 30;
  int reconnectMinMs = 1000;
  int reconnectMaxMs = 10000;
  int syncEveryMs = 1000;   // how often queued records are made durable
  std::size_t window = 16;  // events sent and not yet acknowledged, at most
  int drainMs = 2000;       // at shutdown, how long to wait for the broker
};

struct MqttCredentials {
  std::string user;
  std::string password;
};

// The broker's user and password: from the file (user on the first line,
// password on the second), else from PELVARON_MQTT_USER and
// PELVARON_MQTT_PASSWORD (which cannot fail).
Result<MqttCredentials> ReadMqttCredentials(const std::string& file);

// "pelvaron-<station>"; a name that would make it longer than 23 bytes is
// replaced by a hash of it.
std::string MqttClientId(const std::string& station);

// Why a broker refused the connection, for the codes of MQTT 3.1.1 (which
// the client speaks); empty for any other code.
std::string MqttRefusalText(int connackCode);

}  // namespace pelvaron
