#include "programs/outputs_wiring.h"

#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "outputs/command_sink.h"
#include "outputs/json_lines_sink.h"
#include "outputs/mqtt_sink.h"

namespace pelvaron {

namespace {

void Absolute(std::string& path) {
  if (path.empty() || path == "-" || path.front() == '/') return;
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  if (!ec) path = full.string();
}

std::string StripLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

}  // namespace

std::string PrepareOutputOptions(Options& options) {
  Absolute(options.eventsPath);
  Absolute(options.mqttCa);
  Absolute(options.mqttCredentials);
  MqttUrl url;
  return options.mqttUrl.empty() ? std::string() : ParseMqttUrl(options.mqttUrl, url);
}

std::string StationName(const Options& options) {
  if (!options.station.empty()) return options.station;
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "pelvaron";
  return name;
}

std::string ReadMqttCredentials(const std::string& file, std::string& user, std::string& password) {
  user.clear();
  password.clear();
  if (file.empty()) {
    if (const char* u = std::getenv("PELVARON_MQTT_USER")) user = u;
    if (const char* p = std::getenv("PELVARON_MQTT_PASSWORD")) password = p;
    return {};
  }
  std::ifstream in(file);
  if (!in) return "не удалось прочитать файл " + file + ": " + std::strerror(errno);
  std::string line;
  if (std::getline(in, line)) user = StripLineEnd(line);
  if (std::getline(in, line)) password = StripLineEnd(line);
  if (user.empty()) return "в файле " + file + " нет имени пользователя (первая строка)";
  return {};
}

Report StderrReport(const std::string& programName) {
  return [programName](const std::string& text) {
    const std::string line = programName + ": " + text + "\n";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
  };
}

std::unique_ptr<ConsoleOutputs> ConsoleOutputs::Start(const Options& options, Report report, std::string* error) {
  std::unique_ptr<ConsoleOutputs> outputs(new ConsoleOutputs());
  const bool any = !options.eventsPath.empty() || !options.onEvent.empty() || !options.mqttUrl.empty();
  // A reader that went away (a closed pipe) must not end the console.
  if (any) ::signal(SIGPIPE, SIG_IGN);

  if (!options.eventsPath.empty()) {
    auto file = std::make_unique<JsonLinesSink>(options.eventsPath, report);
    if (int err = file->Open(); err != 0) {
      *error = "не удалось открыть файл событий " + options.eventsPath + ": " + std::strerror(err);
      return nullptr;
    }
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
    if (std::string problem = ParseMqttUrl(options.mqttUrl, config.url); !problem.empty()) {
      *error = problem;
      return nullptr;
    }
    if (!options.mqttCa.empty() && ::access(options.mqttCa.c_str(), R_OK) != 0) {
      *error = "MQTT: не удалось прочитать сертификат " + options.mqttCa + ": " + std::strerror(errno);
      return nullptr;
    }
    if (std::string problem = ReadMqttCredentials(options.mqttCredentials, config.user, config.password);
        !problem.empty()) {
      *error = "MQTT: " + problem;
      return nullptr;
    }
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
    auto mqtt = std::make_unique<MqttSink>(std::move(config), report);
    if (std::string problem = mqtt->Open(); !problem.empty()) {
      *error = problem;
      return nullptr;
    }
    outputs->mqtt_ = std::move(mqtt);
  }
  for (auto* sink : {outputs->file_.get(), outputs->command_.get(), outputs->mqtt_.get()}) {
    if (sink) outputs->fanOut_.Add(sink);
  }
  return outputs;
}

ConsoleOutputs::~ConsoleOutputs() {
  // The broker first: it has the most to hand on and the longest to wait.
  mqtt_.reset();
  command_.reset();
  file_.reset();
}

}  // namespace pelvaron
