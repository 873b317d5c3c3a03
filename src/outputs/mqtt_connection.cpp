#include "outputs/mqtt_connection.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

namespace pelvaron {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr auto kConnackTimeout = std::chrono::milliseconds(15000);

}  // namespace

MqttConnection::MqttConnection(const MqttConfig& config, std::string willTopic, Report report, Listener& listener)
    : config_(config),
      willTopic_(std::move(willTopic)),
      clientId_(MqttClientId(config.station)),
      reporter_(std::move(report)),
      listener_(listener) {}

MqttConnection::~MqttConnection() {
  Destroy();
}

std::string MqttConnection::Where() const {
  return config_.url.host + ":" + std::to_string(config_.url.port);
}

std::string MqttConnection::ConnackText(int rc) const {
  // The library's English text for a code newer than MQTT 3.1.1.
  if (std::string text = MqttRefusalText(rc); !text.empty()) return text;
  std::string text = lib_->connack_string(rc);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::string MqttConnection::LibraryError(int rc) const {
  if (rc == MosquittoLibrary::kTls) return "ошибка TLS (проверьте сертификат брокера и файл --mqtt-ca)";
  std::string text = rc == MosquittoLibrary::kErrno ? std::strerror(errno) : lib_ ? lib_->strerror(rc) : std::to_string(rc);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

void MqttConnection::Fail(int rc) {
  if (!dropRequested_) dropRc_ = rc;
  dropRequested_ = true;
}

bool MqttConnection::LoadLibrary() {
  if (lib_ != nullptr) return true;
  const Result<const MosquittoLibrary*> loaded = MosquittoLibrary::Load(config_.library);
  if (!loaded) {
    reporter_.Trouble("library", "MQTT: " + loaded.problem().text +
                                     ". События ждут в очереди на диске; библиотека будет найдена, "
                                     "как только появится.");
    return false;
  }
  lib_ = *loaded;
  return true;
}

bool MqttConnection::Begin() {
  if (!LoadLibrary()) return false;
  std::string user = config_.user;
  std::string password = config_.password;
  if (!config_.credentialsFile.empty()) {
    Result<MqttCredentials> read = ReadMqttCredentials(config_.credentialsFile);
    if (!read) {
      const std::string problem = read.problem().Said();
      reporter_.Trouble("credentials " + problem, "MQTT: " + problem + ". События ждут в очереди на диске.");
      return false;
    }
    user = std::move(read->user);
    password = std::move(read->password);
  }
  client_ = lib_->create(clientId_.c_str(), true, this);
  if (client_ == nullptr) {
    reporter_.Trouble("create", "MQTT: не удалось создать клиента.");
    return false;
  }
  lib_->will_set(client_, willTopic_.c_str(), 7, "offline", 1, true);
  if (!user.empty()) lib_->username_pw_set(client_, user.c_str(), password.empty() ? nullptr : password.c_str());
  if (config_.url.tls) {
    const int rc = config_.caFile.empty() ? lib_->tls_set(client_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                                          : lib_->tls_set(client_, config_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MosquittoLibrary::kSuccess) {
      reporter_.Trouble("tls", "MQTT: не удалось настроить TLS (" + config_.caFile + "): " + LibraryError(rc));
      Destroy();
      return false;
    }
  }
  lib_->int_option(client_, MosquittoLibrary::kOptionTcpNoDelay, 1);
  lib_->connect_callback_set(client_, &MqttConnection::OnConnect);
  lib_->disconnect_callback_set(client_, &MqttConnection::OnDisconnect);
  lib_->publish_callback_set(client_, &MqttConnection::OnPublish);
  lib_->message_callback_set(client_, &MqttConnection::OnMessage);
  const int rc = lib_->connect_async(client_, config_.url.host.c_str(), config_.url.port, config_.keepaliveS);
  if (rc != MosquittoLibrary::kSuccess) {
    const std::string why = ": " + LibraryError(rc);
    reporter_.Trouble("connect" + why, "Нет связи с брокером MQTT " + Where() + why + ". События ждут в очереди на диске.");
    Destroy();
    return false;
  }
  dropRequested_ = false;
  dropRc_ = 0;
  refused_ = false;
  connectStarted_ = SteadyClock::now();
  return true;
}

void MqttConnection::OnConnect(struct mosquitto* /*client*/, void* self, int rc) {
  static_cast<MqttConnection*>(self)->Connacked(rc);
}

void MqttConnection::OnDisconnect(struct mosquitto* /*client*/, void* self, int rc) {
  static_cast<MqttConnection*>(self)->Fail(rc);
}

void MqttConnection::OnPublish(struct mosquitto* /*client*/, void* self, int mid) {
  static_cast<MqttConnection*>(self)->listener_.Published(mid);
}

void MqttConnection::OnMessage(struct mosquitto* /*client*/, void* self, const MosquittoMessage* message) {
  // Only what the broker kept from before this session comes with the retain
  // flag; this console's own publishing comes back without it.
  if (message == nullptr || message->topic == nullptr || message->payloadlen <= 0) return;
  std::string payload(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen));
  Listener& listener = static_cast<MqttConnection*>(self)->listener_;
  if (message->retain) {
    listener.Retained(message->topic, std::move(payload));
  } else {
    listener.Heard(message->topic, std::move(payload));
  }
}

void MqttConnection::Connacked(int rc) {
  if (rc != 0) {
    std::string why = ConnackText(rc);
    reporter_.Trouble("connack " + std::to_string(rc), "Брокер MQTT " + Where() + " отказал в подключении: " + why + ".");
    refused_ = true;
    Fail(0);
    return;
  }
  connected_ = true;
  reporter_.Recovered("Связь с брокером MQTT " + Where() + " установлена; события из очереди отправляются.");
  listener_.SessionStarted();
}

bool MqttConnection::Publish(int* mid, const std::string& topic, std::string_view payload, bool retain) {
  const int rc = lib_->publish(client_, mid, topic.c_str(), static_cast<int>(payload.size()),
                               payload.empty() ? nullptr : payload.data(), 1, retain);
  if (rc != MosquittoLibrary::kSuccess) Fail(rc);
  return rc == MosquittoLibrary::kSuccess;
}

bool MqttConnection::Subscribe(const std::string& filter, int qos) {
  const int rc = lib_->subscribe(client_, nullptr, filter.c_str(), qos);
  if (rc != MosquittoLibrary::kSuccess) Fail(rc);
  return rc == MosquittoLibrary::kSuccess;
}

int MqttConnection::Socket() const {
  return client_ != nullptr && !dropRequested_ ? lib_->socket(client_) : -1;
}

bool MqttConnection::WantWrite() const {
  return lib_->want_write(client_);
}

void MqttConnection::Pump(short revents) {
  int rc = MosquittoLibrary::kSuccess;
  if (revents & (POLLIN | POLLERR | POLLHUP)) rc = lib_->loop_read(client_, 1);
  if (rc == MosquittoLibrary::kSuccess && (revents & POLLOUT)) rc = lib_->loop_write(client_, 1);
  if (rc != MosquittoLibrary::kSuccess) Fail(rc);
}

void MqttConnection::Misc() {
  lib_->loop_misc(client_);
}

void MqttConnection::GiveUpUnanswered(SteadyClock::time_point now) {
  if (client_ == nullptr || connected_ || now - connectStarted_ < kConnackTimeout) return;
  reporter_.Trouble("timeout", "Брокер MQTT " + Where() + " не ответил на подключение. События ждут в очереди на диске.");
  refused_ = true;  // told just now
  Fail(0);
}

void MqttConnection::Drop() {
  if (client_ == nullptr) return;
  const std::string why = dropRc_ != 0 ? ": " + LibraryError(dropRc_) : std::string();
  if (connected_) {
    reporter_.Trouble("lost", "Связь с брокером MQTT " + Where() + " потеряна" + why + ". События ждут в очереди на диске.");
  } else if (!refused_) {
    reporter_.Trouble("connect" + why, "Нет связи с брокером MQTT " + Where() + why + ". События ждут в очереди на диске.");
  }
  Close();
}

void MqttConnection::SayGoodbye() {
  Publish(nullptr, willTopic_, "offline", true);
  lib_->disconnect(client_);
  const auto until = SteadyClock::now() + std::chrono::milliseconds(500);
  while (client_ != nullptr && lib_->want_write(client_) && SteadyClock::now() < until) {
    const int sock = lib_->socket(client_);
    if (sock < 0) break;
    pollfd p{sock, POLLOUT, 0};
    if (::poll(&p, 1, 100) > 0 && lib_->loop_write(client_, 1) != MosquittoLibrary::kSuccess) break;
  }
}

void MqttConnection::Close() {
  Destroy();
  connected_ = false;
}

void MqttConnection::Destroy() {
  // No client, nothing left to drop: the network thread waits for the next
  // attempt rather than turning round without waiting.
  dropRequested_ = false;
  if (client_ == nullptr) return;
  lib_->destroy(client_);
  client_ = nullptr;
}

}  // namespace pelvaron
