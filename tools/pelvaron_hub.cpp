// pelvaron-hub: the station's consoles joined through the broker.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "hub/hub.h"
#include "hub/hub_options.h"
#include "platform/service_notifier.h"
#include "platform/shutdown_signals.h"

namespace pelvaron {
namespace {

bool Stopping() {
  return ShutdownTaken() != 0 || ShutdownRequested() != 0;
}

void Tell(const std::string& text) {
  std::cerr << text << std::endl;
}

// The picture as the broker holds it now, printed once: what the consoles
// retained, without touching the hub's own session.
class PictureOnce : public HubMqtt::Handler {
 public:
  void Message(std::string_view topic, std::string_view payload, bool) override {
    if (topic.rfind("pelvaron/", 0) != 0) return;
    const std::string_view tail = topic.substr(9);
    const std::size_t slash = tail.find('/');
    if (slash == std::string_view::npos || slash == 0) return;
    picture.Apply(std::string(tail.substr(0, slash)), tail.substr(slash + 1), payload);
  }
  void Subscribed() override { done = true; }
  StationPicture picture;
  bool done = false;
};

int PrintPicture(const HubSettings& settings) {
  PictureOnce handler;
  HubMqtt::Session session;
  session.clientId = settings.clientId + "-view-" + std::to_string(::getpid());
  session.keepSession = false;
  session.qos = 0;
  session.syncFilter = "pelvaron-hub/view/" + session.clientId;
  HubMqtt mqtt(settings.mqtt, session, Tell, handler);
  while (!handler.done && !Stopping()) mqtt.Turn(500, -1, ShutdownWaitMask());
  mqtt.Disconnect();
  if (!handler.done) return 1;
  std::cout << handler.picture.Snapshot().dump(2) << std::endl;
  return 0;
}

int Main(const std::vector<std::string>& args) {
  BlockShutdownSignals();
  const HubOptions options = ParseHubOptions(args);
  if (!options.error.empty()) {
    std::cerr << "pelvaron-hub: " << options.error << "\n";
    return 2;
  }
  if (options.help) {
    std::cout << HubHelpText();
    return 0;
  }
  if (options.version) {
    std::cout << "pelvaron-hub " << PELVARON_VERSION << "\n";
    return 0;
  }
  Result<HubSettings> settings = HubSettingsFrom(options);
  if (!settings) {
    std::cerr << "pelvaron-hub: " << settings.problem().Said() << "\n";
    return 2;
  }
  if (options.picture) return PrintPicture(*settings);

  ServiceNotifier notifier;
  Hub hub(*settings, Tell);
  const std::string broker = settings->mqtt.url.host + ":" + std::to_string(settings->mqtt.url.port);
  const std::string store = IsPostgresUrl(settings->store) ? "PostgreSQL" : settings->store;
  hub.Run(Stopping, ShutdownWaitMask(), [&] {
    Tell("Хаб станции запущен: брокер MQTT " + broker + ", хранилище событий " + store + ".");
    notifier.Ready("Брокер " + broker);
  });
  notifier.Stopping();
  Tell("Хаб станции остановлен; новых событий записано: " + std::to_string(hub.Stored())  + ".");
  return 0;
}

}  // namespace
}  // namespace pelvaron

int main(int argc, char** argv) {
  return pelvaron::Main(std::vector<std::string>(argv + 1, argv + argc));
}
