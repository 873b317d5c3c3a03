#include "hub/hub_mqtt.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pelvaron {

namespace {

constexpr auto kConnackTimeout = std::chrono::seconds(15);

std::string ConnackText(int rc) {
  const std::string text = MqttRefusalText(rc);
  return text.empty() ? "код " + std::to_string(rc) : text;
}

}  // namespace

HubMqtt::HubMqtt(MqttConfig config, Session session, Report report, Handler& handler)
    : config_(std::move(config)), session_(std::move(session)), reporter_(std::move(report)), handler_(handler) {}

HubMqtt::~HubMqtt() {
  Destroy();
}

std::string HubMqtt::Where() const {
  return config_.url.host + ":" + std::to_string(config_.url.port);
}

std::string HubMqtt::LibraryError(int rc) const {
  if (rc == MosquittoLibrary::kTls) return "ошибка TLS (проверьте сертификат брокера и файл --mqtt-ca)";
  std::string text = rc == MosquittoLibrary::kErrno ? std::strerror(errno) : lib_ ? lib_->strerror(rc) : std::to_string(rc);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

bool HubMqtt::Begin() {
  if (lib_ == nullptr) {
    Result<const MosquittoLibrary*> loaded = MosquittoLibrary::Load(config_.library);
    if (!loaded) {
      reporter_.Trouble("library", "MQTT: " + loaded.problem().text + "; хаб найдёт её, как только она появится.");
      return false;
    }
    lib_ = *loaded;
  }
  std::string user = config_.user, password = config_.password;
  if (!config_.credentialsFile.empty()) {
    Result<MqttCredentials> read = ReadMqttCredentials(config_.credentialsFile);
    if (!read) {
      reporter_.Trouble("credentials", "MQTT: " + read.problem().Said() + ".");
      return false;
    }
    user = std::move(read->user);
    password = std::move(read->password);
  }
  client_ = lib_->create(session_.clientId.c_str(), !session_.keepSession, this);
  if (client_ == nullptr) {
    reporter_.Trouble("create", "MQTT: не удалось создать клиента.");
    return false;
  }
  if (!user.empty()) lib_->username_pw_set(client_, user.c_str(), password.empty() ? nullptr : password.c_str());
  if (config_.url.tls) {
    const int rc = config_.caFile.empty() ? lib_->tls_set(client_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                                          : lib_->tls_set(client_, config_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MosquittoLibrary::kSuccess) {
      reporter_.Trouble("tls", "MQTT: не удалось настроить TLS (" + config_.caFile + "): " + LibraryError(rc) + ".");
      Destroy();
      return false;
    }
  }
  lib_->int_option(client_, MosquittoLibrary::kOptionTcpNoDelay, 1);
  lib_->connect_callback_set(client_, &HubMqtt::OnConnect);
  if (lib_->connect_with_flags_callback_set != nullptr)
    lib_->connect_with_flags_callback_set(client_, &HubMqtt::OnConnectFlags);
  lib_->disconnect_callback_set(client_, &HubMqtt::OnDisconnect);
  lib_->subscribe_callback_set(client_, &HubMqtt::OnSubscribe);
  lib_->message_callback_set(client_, &HubMqtt::OnMessage);
  failed_ = false;
  failRc_ = 0;
  refused_ = false;
  const int rc = lib_->connect_async(client_, config_.url.host.c_str(), config_.url.port, config_.keepaliveS);
  if (rc != MosquittoLibrary::kSuccess) {
    failRc_ = rc;
    Drop();
    return false;
  }
  attemptStarted_ = Clock::now();
  return true;
}

void HubMqtt::OnConnect(struct mosquitto*, void* self, int rc) {
  auto* me = static_cast<HubMqtt*>(self);
  if (rc != 0) {
    me->reporter_.Trouble("connack " + std::to_string(rc),
                          "Брокер MQTT " + me->Where() + " отказал в подключении: " + ConnackText(rc) + ".");
    me->refused_ = true;
    me->failed_ = true;
    return;
  }
  me->connected_ = true;
  me->backoffMs_ = 0;
  me->reporter_.Recovered("Связь с брокером MQTT " + me->Where() + " установлена.");
  if (me->lib_->subscribe(me->client_, &me->subscribeMid_, me->session_.filter.c_str(), me->session_.qos) !=
      MosquittoLibrary::kSuccess)
    me->failed_ = true;
  // Without the flags, the session is taken as kept.
  if (me->lib_->connect_with_flags_callback_set == nullptr) me->handler_.Connected(true);
}

// After OnConnect, for the same CONNACK.
void HubMqtt::OnConnectFlags(struct mosquitto*, void* self, int rc, int flags) {
  auto* me = static_cast<HubMqtt*>(self);
  if (rc == 0 && me->connected_) me->handler_.Connected((flags & 1) != 0);
}

void HubMqtt::OnDisconnect(struct mosquitto*, void* self, int rc) {
  auto* me = static_cast<HubMqtt*>(self);
  if (!me->failed_) me->failRc_ = rc;
  me->failed_ = true;
}

void HubMqtt::OnSubscribe(struct mosquitto*, void* self, int mid, int, const int*) {
  auto* me = static_cast<HubMqtt*>(self);
  if (mid == me->subscribeMid_ && !me->session_.syncFilter.empty()) {
    if (me->lib_->subscribe(me->client_, &me->syncMid_, me->session_.syncFilter.c_str(), 0) !=
        MosquittoLibrary::kSuccess)
      me->failed_ = true;
  } else if (mid == me->subscribeMid_ || mid == me->syncMid_) {
    me->handler_.Subscribed();
  }
}

void HubMqtt::OnMessage(struct mosquitto*, void* self, const MosquittoMessage* message) {
  if (message == nullptr || message->topic == nullptr) return;
  const std::string_view payload(static_cast<const char*>(message->payload),
                                 message->payloadlen > 0 ? static_cast<std::size_t>(message->payloadlen) : 0);
  static_cast<HubMqtt*>(self)->handler_.Message(message->topic, payload, message->retain);
}

void HubMqtt::Drop() {
  if (client_ == nullptr) return;
  const std::string why = failRc_ != 0 ? ": " + LibraryError(failRc_) : std::string();
  if (connected_) {
    reporter_.Trouble("lost", "Связь с брокером MQTT " + Where() + " потеряна" + why +
                                  ". Хаб подключится снова сам; брокер хранит события для него.");
  } else if (!refused_) {
    reporter_.Trouble("connect", "Нет связи с брокером MQTT " + Where() + why + ". Хаб пробует снова.");
  }
  Destroy();
  backoffMs_ = std::clamp(backoffMs_ * 2, config_.reconnectMinMs, config_.reconnectMaxMs);
  nextAttempt_ = Clock::now() + std::chrono::milliseconds(backoffMs_);
}

void HubMqtt::Destroy() {
  if (client_ != nullptr) lib_->destroy(client_);
  client_ = nullptr;
  connected_ = false;
}

void HubMqtt::Turn(int waitMs, int wakeFd, const sigset_t* mask, int batch) {
  auto now = Clock::now();
  if (client_ == nullptr && now >= nextAttempt_ && !Begin()) {
    if (client_ == nullptr && nextAttempt_ <= now) {
      backoffMs_ = std::clamp(backoffMs_ * 2, config_.reconnectMinMs, config_.reconnectMaxMs);
      nextAttempt_ = now + std::chrono::milliseconds(backoffMs_);
    }
  }
  pollfd fds[2];
  nfds_t count = 0;
  const int sock = client_ != nullptr ? lib_->socket(client_) : -1;
  if (sock >= 0) fds[count++] = {sock, static_cast<short>(POLLIN | (lib_->want_write(client_) ? POLLOUT : 0)), 0};
  if (wakeFd >= 0) fds[count++] = {wakeFd, POLLIN, 0};
  if (client_ == nullptr) {
    const auto untilAttempt = std::chrono::duration_cast<std::chrono::milliseconds>(nextAttempt_ - now).count();
    waitMs = static_cast<int>(std::clamp<long long>(untilAttempt, 0, waitMs));
  } else {
    waitMs = std::min(waitMs, 1000);  // the keepalive's pace
  }
  const timespec timeout{waitMs / 1000, (waitMs % 1000) * 1000000L};
  const int ready = ::ppoll(fds, count, &timeout, mask);
  if (client_ == nullptr) return;
  if (ready > 0 && sock >= 0 && fds[0].revents != 0) {
    int rc = MosquittoLibrary::kSuccess;
    if (fds[0].revents & POLLOUT) rc = lib_->loop_write(client_, 1);
    if (rc == MosquittoLibrary::kSuccess && (fds[0].revents & (POLLIN | POLLERR | POLLHUP))) {
      // Read on while more is there, up to a batch.
      // The library reads one packet a call and leaves errno at EAGAIN
      // once the socket is empty, which spares a poll per message.
      for (int i = 0; i < batch && rc == MosquittoLibrary::kSuccess && !failed_; ++i) {
        errno = 0;
        rc = lib_->loop_read(client_, 1);
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      }
    }
    if (rc != MosquittoLibrary::kSuccess && !failed_) {
      failed_ = true;
      failRc_ = rc;
    }
  }
  if (client_ != nullptr && !failed_) lib_->loop_misc(client_);
  if (client_ != nullptr && !failed_ && lib_->want_write(client_)) lib_->loop_write(client_, 1);
  if (!connected_ && !failed_ && Clock::now() - attemptStarted_ > kConnackTimeout) {
    reporter_.Trouble("timeout", "Брокер MQTT " + Where() + " не ответил на подключение. Хаб пробует снова.");
    refused_ = true;
    failed_ = true;
  }
  if (failed_) Drop();
}

bool HubMqtt::Publish(const std::string& topic, std::string_view payload) {
  if (!connected_ || failed_) return false;
  const int rc = lib_->publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                               payload.empty() ? nullptr : payload.data(), 1, false);
  if (rc != MosquittoLibrary::kSuccess) {
    failed_ = true;
    failRc_ = rc;
    return false;
  }
  return true;
}

void HubMqtt::Disconnect() {
  if (client_ == nullptr) return;
  if (connected_) {
    lib_->disconnect(client_);
    const auto until = Clock::now() + std::chrono::milliseconds(500);
    while (lib_->want_write(client_) && Clock::now() < until) {
      const int sock = lib_->socket(client_);
      if (sock < 0) break;
      pollfd p{sock, POLLOUT, 0};
      if (::poll(&p, 1, 100) > 0 && lib_->loop_write(client_, 1) != MosquittoLibrary::kSuccess) break;
    }
  }
  Destroy();
}

}  // namespace pelvaron
