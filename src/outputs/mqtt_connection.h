#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

#include "outputs/mosquitto_library.h"
#include "outputs/mqtt_options.h"
#include "outputs/report.h"

namespace pelvaron {

// The broker output's connection: one libmosquitto client at a time, made
// for each attempt (with the will, the credentials read again, TLS) and
// destroyed when the attempt or the session ends. The network thread drives
// it; the library runs no thread of its own. Whatever goes wrong with the
// library or the broker is told once per cause, in the operator's words, and
// asks for the connection to be dropped (DropAsked), which the network
// thread then does.
class MqttConnection {
 public:
  // What a session's client tells, on the network thread, from inside Pump
  // and Misc.
  class Listener {
   public:
    virtual ~Listener() = default;
    // The broker has accepted the connection.
    virtual void SessionStarted() = 0;
    // The broker has acknowledged the message published with this id.
    virtual void Published(int mid) = 0;
    // A retained message the broker kept from before this session.
    virtual void Retained(const std::string& topic, std::string payload) = 0;
    // Any other message on a topic subscribed to.
    virtual void Heard(const std::string& topic, std::string payload) = 0;
  };

  // willTopic: "offline" is left there, retained, should the console vanish.
  MqttConnection(const MqttConfig& config, std::string willTopic, Report report, Listener& listener);
  ~MqttConnection();
  MqttConnection(const MqttConnection&) = delete;
  MqttConnection& operator=(const MqttConnection&) = delete;

  // Finds the library once it is there; false, and told, while it is not.
  bool LoadLibrary();
  // Starts an attempt; false (told) when it could not even begin.
  bool Begin();

  bool HasClient() const { return client_ != nullptr; }
  bool Connected() const { return connected_.load(); }
  bool DropAsked() const { return dropRequested_; }
  // Connected, and nothing has gone wrong since.
  bool Up() const { return client_ != nullptr && connected_ && !dropRequested_; }

  // QoS 1. false when the library would not take it: the connection is to be
  // dropped.
  bool Publish(int* mid, const std::string& topic, std::string_view payload, bool retain);
  bool Subscribe(const std::string& filter, int qos = 0);

  // The socket to wait on, or -1 when there is nothing to wait for.
  int Socket() const;
  bool WantWrite() const;
  // Reads and writes what the socket is ready for (poll's revents).
  void Pump(short revents);
  // The library's keepalive and retries.
  void Misc();
  // A broker that has not answered the attempt within the time-out refused it.
  void GiveUpUnanswered(std::chrono::steady_clock::time_point now);

  // Told why, and the client gone; another attempt can begin.
  void Drop();
  // An orderly goodbye: "offline" in place of the will, then the disconnect,
  // given a moment to reach the broker.
  void SayGoodbye();
  // The client gone, with no word.
  void Close();

 private:
  static void OnConnect(struct mosquitto* client, void* self, int rc);
  static void OnDisconnect(struct mosquitto* client, void* self, int rc);
  static void OnPublish(struct mosquitto* client, void* self, int mid);
  static void OnMessage(struct mosquitto* client, void* self, const MosquittoMessage* message);

  void Connacked(int rc);
  void Fail(int rc);
  void Destroy();
  std::string Where() const;
  std::string ConnackText(int rc) const;
  std::string LibraryError(int rc) const;

  const MqttConfig& config_;
  const std::string willTopic_;
  const std::string clientId_;
  CauseReporter reporter_;  // the broker and the library
  Listener& listener_;
  const MosquittoLibrary* lib_ = nullptr;  // the network thread's once it runs
  struct mosquitto* client_ = nullptr;
  std::atomic<bool> connected_{false};
  bool dropRequested_ = false;
  int dropRc_ = 0;        // why the connection is to be dropped, when the library said
  bool refused_ = false;  // the broker refused this attempt (and that was told)
  std::chrono::steady_clock::time_point connectStarted_;
};

}  // namespace pelvaron
