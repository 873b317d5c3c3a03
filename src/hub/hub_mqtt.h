#pragma once

#include <signal.h>

#include <chrono>
#include <string>
#include <string_view>

#include "outputs/mosquitto_library.h"
#include "outputs/mqtt_options.h"
#include "outputs/report.h"

namespace pelvaron {

// The hub's client of the broker: one subscription, kept (a persistent
// session, so the broker holds QoS 1 messages while the hub is away), made
// again after every connection; reconnects by itself, backing off, and tells
// each cause once. Driven by one thread through Turn; the library runs no
// thread of its own.
class HubMqtt {
 public:
  class Handler {
   public:
    virtual ~Handler() = default;
    virtual void Message(std::string_view topic, std::string_view payload, bool retained) = 0;
    // The broker has answered the subscription: what it retained has come.
    virtual void Subscribed() {}
    // Every connection; sessionPresent false: the broker did not keep the
    // session, so what it held for the hub is gone.
    virtual void Connected(bool /*sessionPresent*/) {}
  };

  struct Session {
    std::string clientId;
    bool keepSession = true;
    std::string filter = "pelvaron/+/#";
    int qos = 1;
    // Subscribed after filter is answered; its own answer comes after what
    // the broker retained for filter (at QoS 0, which nothing holds back).
    std::string syncFilter;
  };

  HubMqtt(MqttConfig config, Session session, Report report, Handler& handler);
  ~HubMqtt();
  HubMqtt(const HubMqtt&) = delete;
  HubMqtt& operator=(const HubMqtt&) = delete;

  // Connects when due, waits at most waitMs for the socket or wakeFd (-1:
  // none) or a signal of mask (nullptr: none), and handles what came: up to
  // `batch` messages, so that the caller can store them before the next turn.
  void Turn(int waitMs, int wakeFd, const sigset_t* mask, int batch = 1000);
  // QoS 1, not retained; false when there is no connection.
  bool Publish(const std::string& topic, std::string_view payload);
  bool Connected() const { return connected_; }
  // An orderly goodbye (the session stays on the broker).
  void Disconnect();
  std::string Where() const;

 private:
  static void OnConnect(struct mosquitto*, void* self, int rc);
  static void OnConnectFlags(struct mosquitto*, void* self, int rc, int flags);
  static void OnDisconnect(struct mosquitto*, void* self, int rc);
  static void OnSubscribe(struct mosquitto*, void* self, int mid, int count, const int* granted);
  static void OnMessage(struct mosquitto*, void* self, const MosquittoMessage* message);

  bool Begin();
  void Drop();
  void Destroy();
  std::string LibraryError(int rc) const;

  using Clock = std::chrono::steady_clock;
  MqttConfig config_;
  Session session_;
  CauseReporter reporter_;
  Handler& handler_;
  const MosquittoLibrary* lib_ = nullptr;
  struct mosquitto* client_ = nullptr;
  bool connected_ = false;
  bool failed_ = false;
  int failRc_ = 0;
  bool refused_ = false;
  int subscribeMid_ = -1;
  int syncMid_ = -1;
  int backoffMs_ = 0;
  Clock::time_point nextAttempt_{};
  Clock::time_point attemptStarted_{};
};

}  // namespace pelvaron
