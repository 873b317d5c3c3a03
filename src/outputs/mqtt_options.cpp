#include "outputs/mqtt_options.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>

namespace pelvaron {

namespace {

std::string StripLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

}  // namespace

Result<MqttCredentials> ReadMqttCredentials(const std::string& file) {
  MqttCredentials read;
  if (file.empty()) {
    if (const char* u = std::getenv("PELVARON_MQTT_USER")) read.user = u;
    if (const char* p = std::getenv("PELVARON_MQTT_PASSWORD")) read.password = p;
    return read;
  }
  std::ifstream in(file);
  if (!in) {
    const int err = errno;
    return SystemProblem("не удалось прочитать файл " + file, err);
  }
  std::string line;
  if (std::getline(in, line)) read.user = StripLineEnd(line);
  if (std::getline(in, line)) read.password = StripLineEnd(line);
  if (read.user.empty()) return Problem{"в файле " + file + " нет имени пользователя (первая строка)"};
  return read;
}

Result<MqttUrl> ParseMqttUrl(std::string_view url) {
  MqttUrl out;
  auto refused = [](std::string text) { return Problem{std::move(text)}; };
  std::string_view rest;
  if (url.rfind("mqtt://", 0) == 0) {
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    rest = url.substr(8);
    out.tls = true;
    out.port = 8883;
  } else {
    return refused("--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not " + std::string(url));
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find('@') != std::string_view::npos) {
    return refused(
        "--mqtt: no user or password in the address (they would show in the process list); use "
        "--mqtt-credentials FILE or PELVARON_MQTT_USER and PELVARON_MQTT_PASSWORD");
  }
  std::string_view port;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return refused("--mqtt: unclosed [ in " + std::string(url));
    out.host = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    if (!rest.empty() && rest.front() != ':') return refused("--mqtt: unexpected text after ] in " + std::string(url));
    if (!rest.empty()) port = rest.substr(1);
  } else {
    const std::size_t colon = rest.find(':');
    out.host = std::string(rest.substr(0, colon));
    if (colon != std::string_view::npos) port = rest.substr(colon + 1);
  }
  if (out.host.empty() || out.host.find('/') != std::string::npos) {
    return refused("--mqtt: no host in " + std::string(url));
  }
  if (port.data() != nullptr) {
    int value = 0;
    for (char c : port) {
      if (c < '0' || c > '9' || value > 65535) return refused("--mqtt: bad port in " + std::string(url));
      value = value * 10 + (c - '0');
    }
    if (port.empty() || value < 1 || value > 65535) return refused("--mqtt: bad port in " + std::string(url));
    out.port = value;
  }
  return out;
}

// Client ids longer than 23 bytes are refused by some brokers; a long station
// name is told apart by a hash of it, so that two consoles never share an id
// (the broker would drop each for the other, over and over).
std::string MqttClientId(const std::string& station) {
  std::string id = "pelvaron-" + station;
  if (id.size() <= 23) return id;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : station) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  id = "pelvaron-";
  for (int shift = 52; shift >= 0; shift -= 4) id += "0123456789abcdef"[(hash >> shift) & 15];
  return id;
}

std::string MqttRefusalText(int connackCode) {
  switch (connackCode) {
    case 1: return "версия протокола не поддерживается";
    case 2: return "идентификатор клиента не принят";
    case 3: return "брокер недоступен";
    case 4: return "неверное имя пользователя или пароль";
    case 5: return "нет прав на подключение (проверьте имя пользователя и пароль)";
  }
  return {};
}

}  // namespace pelvaron
