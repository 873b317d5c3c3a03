#include "outputs/mqtt_sink.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>

#include "events/event_json.h"
#include "outputs/event_record.h"

namespace pelvaron {

namespace {

using SteadyClock = std::chrono::steady_clock;

// What earlier versions kept beside the queue: the objects' states are now
// the console's own.
constexpr const char* kLegacyFiles[] = {"objects", "objects.new"};
constexpr int kConnackTimeoutMs = 15000;

int MsBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
  return ms < 0 ? 0 : static_cast<int>(ms > 60000 ? 60000 : ms);
}

std::string StripLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

// Client ids longer than 23 bytes are refused by some brokers; a long station
// name is told apart by a hash of it, so that two consoles never share an id
// (the broker would drop each for the other, over and over).
std::string ClientId(const std::string& station) {
  std::string id = "pelvaron-" + station;
  if (id.size() <= 23) return id;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : station) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  id = "pelvaron-";
  for (int shift = 52; shift >= 0; shift -= 4) id += "0123456789abcdef"[(hash >> shift) & 15];
  return id;
}

}  // namespace

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

std::string ParseMqttUrl(std::string_view url, MqttUrl& out) {
  out = MqttUrl{};
  std::string_view rest;
  if (url.rfind("mqtt://", 0) == 0) {
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    rest = url.substr(8);
    out.tls = true;
    out.port = 8883;
  } else {
    return "--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not " + std::string(url);
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find('@') != std::string_view::npos) {
    return "--mqtt: no user or password in the address (they would show in the process list); use "
           "--mqtt-credentials FILE or PELVARON_MQTT_USER and PELVARON_MQTT_PASSWORD";
  }
  std::string_view port;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return "--mqtt: unclosed [ in " + std::string(url);
    out.host = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    if (!rest.empty() && rest.front() != ':') return "--mqtt: unexpected text after ] in " + std::string(url);
    if (!rest.empty()) port = rest.substr(1);
  } else {
    const std::size_t colon = rest.find(':');
    out.host = std::string(rest.substr(0, colon));
    if (colon != std::string_view::npos) port = rest.substr(colon + 1);
  }
  if (out.host.empty() || out.host.find('/') != std::string::npos) {
    return "--mqtt: no host in " + std::string(url);
  }
  if (port.data() != nullptr) {
    int value = 0;
    for (char c : port) {
      if (c < '0' || c > '9' || value > 65535) return "--mqtt: bad port in " + std::string(url);
      value = value * 10 + (c - '0');
    }
    if (port.empty() || value < 1 || value > 65535) return "--mqtt: bad port in " + std::string(url);
    out.port = value;
  }
  return {};
}

MqttSink::MqttSink(MqttConfig config, Report report)
    : BackgroundSink(kCapacity),
      config_(std::move(config)),
      report_(std::move(report)),
      reporter_(report_),
      diskReporter_(report_),
      queue_(config_.queueDir, config_.queueLimits),
      base_(StationTopicBase(config_.station)),
      eventTopic_(base_ + "event"),
      clientId_(ClientId(config_.station)) {}

MqttSink::~MqttSink() {
  // Whatever the console has published goes to the disk queue first; then the
  // network thread has a moment to hand it to the broker.
  Stop(config_.drainMs);
  finishing_ = true;
  Wake();
  if (network_.joinable()) network_.join();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::string MqttSink::Where() const {
  return config_.url.host + ":" + std::to_string(config_.url.port);
}

std::string MqttSink::ConnackText(int rc) const {
  // The codes of MQTT 3.1.1, which the client speaks; the library's English
  // text for anything newer.
  switch (rc) {
    case 1: return "версия протокола не поддерживается";
    case 2: return "идентификатор клиента не принят";
    case 3: return "брокер недоступен";
    case 4: return "неверное имя пользователя или пароль";
    case 5: return "нет прав на подключение (проверьте имя пользователя и пароль)";
  }
  std::string text = lib_->connack_string(rc);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::string MqttSink::LibraryError(int rc) const {
  if (rc == MosquittoLibrary::kTls) return "ошибка TLS (проверьте сертификат брокера и файл --mqtt-ca)";
  std::string text = rc == MosquittoLibrary::kErrno ? std::strerror(errno) : lib_ ? lib_->strerror(rc) : std::to_string(rc);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

void MqttSink::Fail(int rc) {
  if (!dropRequested_) dropRc_ = rc;
  dropRequested_ = true;
}

void MqttSink::Open() {
  for (const char* name : kLegacyFiles) ::unlink((config_.queueDir + "/" + name).c_str());
  OpenQueue();
  std::string error;
  lib_ = MosquittoLibrary::Load(&error, config_.library);
  if (lib_ == nullptr) {
    reporter_.Trouble("library", "MQTT: " + error + ". События ждут в очереди на диске; библиотека будет найдена, "
                                 "как только появится.");
  }
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  network_ = std::thread([this] { NetworkLoop(); });
  Start();
}

bool MqttSink::OpenQueue() {
  if (int err = queue_.Open(); err != 0) {
    diskReporter_.Trouble("open " + std::to_string(err), "MQTT: не удалось открыть очередь событий " +
                                                             config_.queueDir + ": " + std::strerror(err) +
                                                             "; события ждут в памяти, попытка будет повторена.");
    return false;
  }
  const DiskQueue::Findings found = queue_.TakeFindings();
  if (report_) {
    for (const std::string& name : found.foreign) {
      report_("MQTT: в папке очереди " + config_.queueDir + " лишний файл " + name +
              "; он не отправляется. Уберите его оттуда.");
    }
    if (!found.tornSegment.empty()) {
      report_("MQTT: в конце файла очереди " + found.tornSegment + " была оборванная запись (" +
              std::to_string(found.tornBytes) + " байт); она удалена.");
    }
  }
  return true;
}

void MqttSink::Wake() {
  if (wakeFd_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void MqttSink::ObjectsShown(const std::vector<ObjectListRow>& rows) {
  std::vector<ObjectStatus> states = ObjectStatesOf(rows);
  // Most refreshes (one a minute) change no state.
  if (everShown_ && states == shown_) return;
  shown_ = states;
  everShown_ = true;
  {
    std::lock_guard lock(stateMutex_);
    if (state_.SetObjects(std::move(states))) statesChanged_ = true;
  }
  Wake();
}

bool MqttSink::Deliver(const Event& event) {
  // Nothing overtakes an event that cannot be queued yet: it is offered again.
  if (!queue_.IsOpen() && !OpenQueue()) return false;
  const std::string line = EventJson(event);
  if (int err = queue_.Append(line); err != 0) {
    diskReporter_.Trouble("disk " + std::to_string(err), "Не удалось записать событие в очередь для брокера MQTT (" +
                                                         config_.queueDir + "): " + std::strerror(err) +
                                                         "; запись будет повторена.");
    return false;
  }
  diskReporter_.Recovered("Запись событий в очередь для брокера MQTT возобновлена.");
  // Told once for each segment given up, that is every few megabytes of events.
  const std::uint64_t dropped = queue_.Dropped();
  if (dropped != droppedReported_ && report_) {
    report_("Очередь событий для брокера MQTT заполнена: удалено самых старых событий, не дождавшихся брокера: " +
            std::to_string(dropped - droppedReported_) + ".");
    droppedReported_ = dropped;
  }
  {
    std::lock_guard lock(stateMutex_);
    if (state_.Apply(event)) statesChanged_ = true;
  }
  Wake();
  return true;
}

void MqttSink::Overflow(const Event& /*event*/) {
  diskReporter_.Trouble("overflow", "Очередь событий для брокера MQTT переполнена; часть событий не будет отправлена.");
}

void MqttSink::OnConnect(struct mosquitto* /*client*/, void* self, int rc) {
  static_cast<MqttSink*>(self)->OnConnected(rc);
}

void MqttSink::OnDisconnect(struct mosquitto* /*client*/, void* self, int rc) {
  static_cast<MqttSink*>(self)->Fail(rc);
}

void MqttSink::OnPublish(struct mosquitto* /*client*/, void* self, int mid) {
  auto* sink = static_cast<MqttSink*>(self);
  for (InFlight& f : sink->inFlight_) {
    if (f.mid == mid && !f.acked) {
      f.acked = true;
      ++sink->acknowledged_;
      break;
    }
  }
}

void MqttSink::OnMessage(struct mosquitto* /*client*/, void* self, const MosquittoMessage* message) {
  // Only what the broker kept from before this session comes with the retain
  // flag; this console's own publishing comes back without it.
  auto* sink = static_cast<MqttSink*>(self);
  if (message == nullptr || message->topic == nullptr || !message->retain || message->payloadlen <= 0) return;
  const std::string topic = message->topic;
  if (sink->retained_.count(topic) != 0) return;
  sink->retained_[topic].assign(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen));
  sink->statesChanged_ = true;
}

bool MqttSink::Connect() {
  if (lib_ == nullptr) {
    std::string error;
    lib_ = MosquittoLibrary::Load(&error, config_.library);
    if (lib_ == nullptr) {
      reporter_.Trouble("library", "MQTT: " + error + ". События ждут в очереди на диске; библиотека будет найдена, "
                                   "как только появится.");
      return false;
    }
  }
  std::string user = config_.user;
  std::string password = config_.password;
  if (!config_.credentialsFile.empty()) {
    if (std::string problem = ReadMqttCredentials(config_.credentialsFile, user, password); !problem.empty()) {
      reporter_.Trouble("credentials " + problem, "MQTT: " + problem + ". События ждут в очереди на диске.");
      return false;
    }
  }
  client_ = lib_->create(clientId_.c_str(), true, this);
  if (client_ == nullptr) {
    reporter_.Trouble("create", "MQTT: не удалось создать клиента.");
    return false;
  }
  const std::string online = base_ + "online";
  lib_->will_set(client_, online.c_str(), 7, "offline", 1, true);
  if (!user.empty()) lib_->username_pw_set(client_, user.c_str(), password.empty() ? nullptr : password.c_str());
  if (config_.url.tls) {
    const int rc = config_.caFile.empty() ? lib_->tls_set(client_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                                          : lib_->tls_set(client_, config_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MosquittoLibrary::kSuccess) {
      reporter_.Trouble("tls", "MQTT: не удалось настроить TLS (" + config_.caFile + "): " + LibraryError(rc));
      lib_->destroy(client_);
      client_ = nullptr;
      return false;
    }
  }
  lib_->int_option(client_, MosquittoLibrary::kOptionTcpNoDelay, 1);
  lib_->connect_callback_set(client_, &MqttSink::OnConnect);
  lib_->disconnect_callback_set(client_, &MqttSink::OnDisconnect);
  lib_->publish_callback_set(client_, &MqttSink::OnPublish);
  lib_->message_callback_set(client_, &MqttSink::OnMessage);
  const int rc = lib_->connect_async(client_, config_.url.host.c_str(), config_.url.port, config_.keepaliveS);
  if (rc != MosquittoLibrary::kSuccess) {
    const std::string why = ": " + LibraryError(rc);
    reporter_.Trouble("connect" + why, "Нет связи с брокером MQTT " + Where() + why + ". События ждут в очереди на диске.");
    lib_->destroy(client_);
    client_ = nullptr;
    return false;
  }
  dropRequested_ = false;
  dropRc_ = 0;
  refused_ = false;
  connectStarted_ = SteadyClock::now();
  return true;
}

void MqttSink::OnConnected(int rc) {
  if (rc != 0) {
    std::string why = ConnackText(rc);
    reporter_.Trouble("connack " + std::to_string(rc), "Брокер MQTT " + Where() + " отказал в подключении: " + why + ".");
    refused_ = true;
    Fail(0);
    return;
  }
  connected_ = true;
  reporter_.Recovered("Связь с брокером MQTT " + Where() + " установлена; события из очереди отправляются.");
  // A new session: whatever was unacknowledged goes again, from the first.
  inFlight_.clear();
  queue_.Rewind();
  // What an earlier run left of objects no longer registered is found by
  // looking, and removed once the console's list is known.
  retained_.clear();
  std::vector<std::string> filters = {base_ + "object/+"};
  if (!config_.discoveryPrefix.empty()) filters.push_back(DiscoveryObjectFilter(config_.discoveryPrefix, config_.station));
  for (const std::string& filter : filters) {
    if (int err = lib_->subscribe(client_, nullptr, filter.c_str(), 0); err != MosquittoLibrary::kSuccess) {
      Fail(err);
      return;
    }
  }
  PublishRetained(base_ + "online", "online");
  statesChanged_ = true;
}

void MqttSink::DropConnection() {
  if (client_ == nullptr) return;
  const std::string why = dropRc_ != 0 ? ": " + LibraryError(dropRc_) : std::string();
  if (connected_) {
    reporter_.Trouble("lost", "Связь с брокером MQTT " + Where() + " потеряна" + why + ". События ждут в очереди на диске.");
  } else if (!refused_) {
    reporter_.Trouble("connect" + why, "Нет связи с брокером MQTT " + Where() + why + ". События ждут в очереди на диске.");
  }
  lib_->destroy(client_);
  client_ = nullptr;
  connected_ = false;
  for (const InFlight& f : inFlight_) {
    if (f.acked) ackedAhead_.insert(f.end);
  }
  inFlight_.clear();
  queue_.Rewind();
}

bool MqttSink::PublishRetained(const std::string& topic, const std::string& payload) {
  const int rc = lib_->publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                               payload.empty() ? nullptr : payload.data(), 1, true);
  if (rc != MosquittoLibrary::kSuccess) Fail(rc);
  return rc == MosquittoLibrary::kSuccess;
}

void MqttSink::PublishStates() {
  statesChanged_ = false;
  std::map<std::string, std::string> wanted;
  bool objectsKnown = false;
  {
    std::lock_guard lock(stateMutex_);
    objectsKnown = state_.ObjectsKnown();
    for (auto& [topic, payload] : state_.Retained()) wanted[base_ + topic] = std::move(payload);
    if (!config_.discoveryPrefix.empty()) {
      wanted.merge(DiscoveryMessages(config_.discoveryPrefix, config_.station, state_.Objects()));
    }
  }
  // Until the console's list is known, nothing the broker keeps of objects is
  // taken for stale.
  if (objectsKnown) {
    for (auto it = retained_.begin(); it != retained_.end();) {
      if (wanted.count(it->first) != 0) {
        ++it;
        continue;
      }
      if (!PublishRetained(it->first, "")) return;
      it = retained_.erase(it);
    }
  }
  for (const auto& [topic, payload] : wanted) {
    auto it = retained_.find(topic);
    if (it != retained_.end() && it->second == payload) continue;
    if (!PublishRetained(topic, payload)) return;
    retained_[topic] = payload;
  }
}

void MqttSink::SendEvents() {
  std::vector<DiskQueue::Record> records;
  while (client_ != nullptr && connected_ && !dropRequested_ && inFlight_.size() < config_.window) {
    records.clear();
    if (queue_.ReadNext(config_.window - inFlight_.size(), records) == 0) break;
    for (DiskQueue::Record& r : records) {
      if (ackedAhead_.erase(r.end) != 0) {
        inFlight_.push_back({0, r.end, true});
        continue;
      }
      if (!LooksLikeEvent(r.data)) {
        // Never published; passed over as if acknowledged, the rest goes on.
        if (garbageTold_.insert(r.end.segment).second && report_) {
          report_("MQTT: в файле очереди " + queue_.SegmentPath(r.end.segment) +
                  " есть записи, которые не являются событиями; они пропущены и не отправляются.");
        }
        inFlight_.push_back({0, r.end, true});
        continue;
      }
      int mid = 0;
      const int rc = lib_->publish(client_, &mid, eventTopic_.c_str(), static_cast<int>(r.data.size()), r.data.data(),
                                   1, false);
      if (rc != MosquittoLibrary::kSuccess) {
        Fail(rc);
        return;
      }
      inFlight_.push_back({mid, r.end, false});
    }
  }
}

void MqttSink::PopAcknowledged() {
  bool any = false;
  QueuePosition end;
  while (!inFlight_.empty() && inFlight_.front().acked) {
    end = inFlight_.front().end;
    inFlight_.pop_front();
    any = true;
  }
  if (any) {
    if (int err = queue_.Acknowledge(end); err != 0) {
      diskReporter_.Trouble("ack " + std::to_string(err), "Не удалось записать положение очереди MQTT (" +
                                                          config_.queueDir + "): " + std::strerror(err));
    }
  }
}

void MqttSink::NetworkLoop() {
  int backoffMs = config_.reconnectMinMs;
  auto nextAttempt = SteadyClock::now();
  auto lastSync = SteadyClock::now();
  auto lastMisc = SteadyClock::now();
  SteadyClock::time_point finishBy{};
  bool finishing = false;
  for (;;) {
    auto now = SteadyClock::now();
    if (finishing_ && !finishing) {
      finishing = true;
      finishBy = now + std::chrono::milliseconds(config_.drainMs);
    }
    if (finishing) {
      const bool allSent = client_ == nullptr || !connected_ || (inFlight_.empty() && !queue_.HasUnread());
      if (allSent || now >= finishBy) break;
    }
    if (client_ == nullptr && !finishing && now >= nextAttempt) {
      if (!Connect()) {
        nextAttempt = now + std::chrono::milliseconds(backoffMs);
        backoffMs = std::min(backoffMs * 2, config_.reconnectMaxMs);
      }
    }
    if (client_ != nullptr && !connected_ && MsBetween(connectStarted_, now) >= kConnackTimeoutMs) {
      reporter_.Trouble("timeout", "Брокер MQTT " + Where() + " не ответил на подключение. События ждут в очереди на диске.");
      refused_ = true;  // told just now
      Fail(0);
    }
    if (client_ != nullptr && connected_ && !dropRequested_) {
      backoffMs = config_.reconnectMinMs;
      SendEvents();
      if (statesChanged_ && !dropRequested_) PublishStates();
    }

    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
    nfds_t count = 1;
    int sock = client_ != nullptr && !dropRequested_ ? lib_->socket(client_) : -1;
    if (sock >= 0) {
      fds[1] = {sock, static_cast<short>(POLLIN | (lib_->want_write(client_) ? POLLOUT : 0)), 0};
      count = 2;
    }
    int timeoutMs = 1000;
    if (client_ == nullptr && !finishing) timeoutMs = MsBetween(now, nextAttempt);
    // With everything sent, acknowledged, durable and published, nothing is
    // due before the keepalive's ping (sent at most a quarter of it late); an
    // event, the console's list, the broker or the end wakes the thread before that.
    if (client_ != nullptr && connected_ && !finishing && !dropRequested_ && inFlight_.empty() &&
        !queue_.HasUnread() && !queue_.Dirty() && !statesChanged_) {
      timeoutMs = std::max(timeoutMs, config_.keepaliveS * 250);
    }
    if (finishing) timeoutMs = std::min(timeoutMs, MsBetween(now, finishBy) + 1);
    if (!dropRequested_) ::poll(fds, count, timeoutMs);
    if (fds[0].revents & POLLIN) {
      std::uint64_t value;
      [[maybe_unused]] ssize_t n = ::read(wakeFd_, &value, sizeof value);
    }
    if (count == 2 && client_ != nullptr) {
      int rc = MosquittoLibrary::kSuccess;
      if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) rc = lib_->loop_read(client_, 1);
      if (rc == MosquittoLibrary::kSuccess && (fds[1].revents & POLLOUT)) rc = lib_->loop_write(client_, 1);
      if (rc != MosquittoLibrary::kSuccess) Fail(rc);
    }
    now = SteadyClock::now();
    if (client_ != nullptr && !dropRequested_ && MsBetween(lastMisc, now) >= 500) {
      lastMisc = now;
      lib_->loop_misc(client_);
    }
    if (client_ != nullptr && dropRequested_) {
      DropConnection();
      nextAttempt = now + std::chrono::milliseconds(backoffMs);
      backoffMs = std::min(backoffMs * 2, config_.reconnectMaxMs);
    }
    PopAcknowledged();
    if (MsBetween(lastSync, now) >= config_.syncEveryMs) {
      lastSync = now;
      if (int err = queue_.Sync(); err != 0) {
        diskReporter_.Trouble("sync " + std::to_string(err), "Не удалось сохранить очередь событий MQTT на диске (" +
                                                             config_.queueDir + "): " + std::strerror(err));
      }
    }
  }

  // An orderly goodbye: "offline" in place of the will, then the disconnect.
  if (client_ != nullptr && connected_) {
    PublishRetained(base_ + "online", "offline");
    lib_->disconnect(client_);
    const auto until = SteadyClock::now() + std::chrono::milliseconds(500);
    while (client_ != nullptr && lib_->want_write(client_) && SteadyClock::now() < until) {
      const int sock = lib_->socket(client_);
      if (sock < 0) break;
      pollfd p{sock, POLLOUT, 0};
      if (::poll(&p, 1, 100) > 0 && lib_->loop_write(client_, 1) != MosquittoLibrary::kSuccess) break;
    }
  }
  PopAcknowledged();
  if (client_ != nullptr) {
    lib_->destroy(client_);
    client_ = nullptr;
  }
  connected_ = false;
  queue_.Sync();
}

}  // namespace pelvaron
