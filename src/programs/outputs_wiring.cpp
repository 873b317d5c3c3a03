#include "programs/outputs_wiring.h"

#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "outputs/command_sink.h"
#include "outputs/json_lines_sink.h"
#include "outputs/mqtt_sink.h"
#include "programs/plans_feed.h"
#include "store/store_replay.h"
#include "station/station_schema.h"

namespace pelvaron {

namespace {

void Absolute(std::string& path) {
  if (path.empty() || path == "-" || path.front() == '/') return;
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  if (!ec) path = full.string();
}

// Valid UTF-8 without control characters: what a topic may hold.
bool PlainUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t cp = length == 1 ? b : b & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    const bool overlong = (length == 2 && cp < 0x80) || (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp < 0x20 || (cp >= 0x7F && cp <= 0x9F))
      return false;
    i += length;
  }
  return true;
}

}  // namespace

Result<> PrepareOutputOptions(Options& options) {
  Absolute(options.eventsPath);
  Absolute(options.mqttCa);
  Absolute(options.mqttCredentials);
  if (options.mqttUrl.empty()) return {};
  if (Result<MqttUrl> url = ParseMqttUrl(options.mqttUrl); !url) return url.problem();
  // A name the broker cannot take would connect and be dropped over and over.
  const std::string station = StationName(options);
  if (!PlainUtf8(station)) {
    return Problem{"--station: the name must be UTF-8 text without control characters (it is part of the MQTT topics)"};
  }
  const std::string& prefix = options.mqttDiscovery;
  if (!prefix.empty() && (!PlainUtf8(prefix) || prefix.find_first_of("+#") != std::string::npos ||
                          prefix.front() == '/' || prefix.back() == '/')) {
    return Problem{"--mqtt-discovery: the prefix must be UTF-8 text without control characters, '+', '#' or a '/' at "
                   "either end"};
  }
  if (const std::size_t longest = LongestTopic(station, prefix); longest > kMaxMqttTopicBytes) {
    return Problem{"--station: the name is too long for MQTT topics (" + std::to_string(station.size()) +
                   " bytes make topics of up to " + std::to_string(longest) + " bytes; MQTT allows " +
                   std::to_string(kMaxMqttTopicBytes) + ")"};
  }
  return {};
}

std::string StationName(const Options& options) {
  if (!options.station.empty()) return options.station;
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "pelvaron";
  return name;
}

Report StderrReport(const std::string& programName) {
  return [programName](const std::string& text) {
    const std::string line = programName + ": " + text + "\n";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
  };
}

std::unique_ptr<ConsoleOutputs> ConsoleOutputs::Start(const Options& options, Report report) {
  std::unique_ptr<ConsoleOutputs> outputs(new ConsoleOutputs());
  outputs->report_ = report;
  const bool any = !options.eventsPath.empty() || !options.onEvent.empty() || !options.mqttUrl.empty();
  // A reader that went away (a closed pipe) must not end the console.
  if (any) ::signal(SIGPIPE, SIG_IGN);

  if (!options.eventsPath.empty()) {
    auto file = std::make_unique<JsonLinesSink>(options.eventsPath, report);
    // A file that cannot be opened now is told at the first event and tried
    // again; the events wait.
    (void)file->Open();
    file->Start();
    outputs->file_ = std::move(file);
  }
  if (!options.onEvent.empty()) {
    auto command = std::make_unique<CommandSink>(options.onEvent, options.onEventTimeoutMs, report);
    command->Start();
    outputs->command_ = std::move(command);
  }
  if (!options.mqttUrl.empty()) {
    MqttConfig config;
    // Checked when the command line was read.
    if (Result<MqttUrl> url = ParseMqttUrl(options.mqttUrl)) config.url = std::move(*url);
    if (options.mqttCredentials.empty()) {
      if (Result<MqttCredentials> fromEnvironment = ReadMqttCredentials({})) {
        config.user = std::move(fromEnvironment->user);
        config.password = std::move(fromEnvironment->password);
      }
    }
    config.credentialsFile = options.mqttCredentials;
    struct stat st {};
    if (!options.mqttCredentials.empty() && ::stat(options.mqttCredentials.c_str(), &st) == 0 &&
        (st.st_mode & (S_IRWXG | S_IRWXO)) != 0 && report) {
      report("Файл " + options.mqttCredentials +
             " с паролем брокера MQTT доступен другим пользователям; закройте доступ: chmod 600 " +
             options.mqttCredentials);
    }
    config.caFile = options.mqttCa;
    config.station = StationName(options);
    config.discoveryPrefix = options.mqttDiscovery;
    config.commands = options.mqttCommands;
    auto mqtt = std::make_unique<MqttSink>(std::move(config), report);
    mqtt->SetPlansSource([feed = std::make_shared<PlansFeed>(kStationStoreFileName, report)] { return feed->Changed(); });
    mqtt->SetReplay(std::make_unique<StoreReplay>(kEventStoreFileName, report));
    mqtt->Open();
    outputs->objectStates_ = mqtt.get();
    outputs->deskChannel_ = mqtt.get();
    outputs->commands_ = options.mqttCommands;
    outputs->mqtt_ = std::move(mqtt);
  }
  for (auto* sink : {outputs->file_.get(), outputs->command_.get(), outputs->mqtt_.get()}) {
    if (sink) outputs->fanOut_.Add(sink);
  }
  return outputs;
}

ConsoleHooks ConsoleOutputs::WithObjectStates(ConsoleHooks hooks) {
  if (objectStates_ == nullptr) return hooks;
  hooks.beforeStartup = [before = std::move(hooks.beforeStartup), sink = objectStates_](Console& console, Operator& op) {
    if (before) before(console, op);
    console.Objects().SetRowsListener([sink](const std::vector<ObjectListRow>& rows) { sink->ObjectsShown(rows); });
  };
  return hooks;
}

ConsoleHooks ConsoleOutputs::Hooks(EventRecords& records) {
  ConsoleHooks hooks = WithObjectStates(records.Hooks());
  if (deskChannel_ == nullptr) return hooks;
  hooks.beforeStartup = [this, &records, before = std::move(hooks.beforeStartup)](Console& console, Operator& op) {
    if (before) before(console, op);
    brokerDesk_ = std::make_unique<BrokerDesk>(records.desk(), records.store(), *deskChannel_, commands_, report_);
  };
  hooks.afterTick = [this, after = std::move(hooks.afterTick)](Console& console) {
    if (after) after(console);
    if (brokerDesk_) brokerDesk_->AfterTick(console.timeNow);
  };
  return hooks;
}

ConsoleOutputs::~ConsoleOutputs() {
  // The broker first: it has the most to hand on and the longest to wait.
  mqtt_.reset();
  command_.reset();
  file_.reset();
}

}  // namespace pelvaron
