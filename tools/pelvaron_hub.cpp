// pelvaron-hub: the station's consoles joined through the broker.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "hub/hub.h"
#include "hub/hub_options.h"
#include "hub/web/user_admin.h"
#include "hub/web/web_options.h"
#include "hub/web/web_server.h"
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

// --user's only other option is --store.
int UserCommand(const WebOptions& web, const std::vector<std::string>& args) {
  std::string store = kHubStoreFileName;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--store" && i + 1 < args.size()) {
      store = args[++i];
    } else if (args[i].rfind("--store=", 0) == 0) {
      store = args[i].substr(8);
    } else {
      std::cerr << "pelvaron-hub: " << args[i] << " does not go with --user (only --store does)\n";
      return 2;
    }
  }
  return RunUserCommand(web, store);
}

int Main(std::vector<std::string> args) {
  BlockShutdownSignals();
  const WebOptions web = TakeWebOptions(args);
  if (!web.error.empty()) {
    std::cerr << "pelvaron-hub: " << web.error << "\n";
    return 2;
  }
  if (!web.userVerb.empty()) return UserCommand(web, args);
  const HubOptions options = ParseHubOptions(args);
  if (!options.error.empty()) {
    std::cerr << "pelvaron-hub: " << options.error << "\n";
    return 2;
  }
  if (options.help) {
    std::cout << HubHelpText() << WebHelpText();
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

  Result<WebSettings> webSettings = WebSettingsFrom(web);
  if (!webSettings) {
    std::cerr << "pelvaron-hub: " << webSettings.problem().Said() << "\n";
    return 2;
  }
  webSettings->store = settings->store;
  // Opened when the database answers: the hub serves the board and takes
  // events meanwhile; the hub's store tells what is wrong with it.
  const std::unique_ptr<WebDb> webDb = OpenWebDbWhenReachable(settings->store, UserStore::MakeTable);
  UserStore users = UserStore::Over(*webDb);

  ServiceNotifier notifier;
  Hub hub(*settings, Tell);
  WebServer server(*webSettings, hub.Picture(), hub.Commands(), *webDb, users, Tell);
  hub.Picture().OnChange([&server](const std::string&) { server.Feed().Changed(); });
  if (Result<> started = server.Start(); !started) {
    Tell(started.problem().Told());
    return 1;
  }
  Tell(std::string("Веб-консоль: ") + (server.Secure() ? "https://" : "http://") + webSettings->host + ":" +
       std::to_string(server.Port()) + "/");
  const std::string broker = settings->mqtt.url.host + ":" + std::to_string(settings->mqtt.url.port);
  const std::string store = IsPostgresUrl(settings->store) ? "PostgreSQL" : settings->store;
  hub.Run(Stopping, ShutdownWaitMask(), [&] {
    Tell("Хаб станции запущен: брокер MQTT " + broker + ", хранилище событий " + store + ".");
    notifier.Ready("Брокер " + broker);
  });
  notifier.Stopping();
  server.Stop();
  Tell("Хаб станции остановлен; новых событий записано: " + std::to_string(hub.Stored())  + ".");
  return 0;
}

}  // namespace
}  // namespace pelvaron

int main(int argc, char** argv) {
  return pelvaron::Main(std::vector<std::string>(argv + 1, argv + argc));
}
