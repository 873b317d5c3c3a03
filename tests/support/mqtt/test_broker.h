#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace pelvaron::testing {

// The real broker, run for one test: the mosquitto program on 127.0.0.1 and
// a free port, with a config file and a persistence folder it writes in a
// folder of its own. Stopped (and the folder removed) when destroyed; it can
// be stopped and started again on the same port, keeping what it persisted.
// What a broker refuses or how it goes away is the real one's too: a password
// file, a CA that signed nothing it shows, SIGTERM.
class TestBroker {
 public:
  // Whether the mosquitto program is installed (scripts/ensure-deps.sh).
  static bool Available();

  explicit TestBroker(bool persistent = true);
  ~TestBroker();
  TestBroker(const TestBroker&) = delete;
  TestBroker& operator=(const TestBroker&) = delete;

  // Before Start: a second listener on another free port that takes TLS only
  // (a certificate for 127.0.0.1 signed by a CA made here, see CaFile) and
  // only this user with this password; the first listener stays open to all,
  // for the test's own subscriber. False and why when the tools fail.
  bool AddSecureListener(const std::string& user, const std::string& password, std::string* error);
  int SecurePort() const { return securePort_; }
  std::string SecureUrl() const { return "mqtts://127.0.0.1:" + std::to_string(securePort_); }
  std::string CaFile() const { return dir_ + "/ca.crt"; }
  // A CA of its own that signed nothing the broker shows: to be refused.
  std::string OtherCaFile() const { return dir_ + "/other-ca.crt"; }

  // Starts it and waits until it accepts connections; false and why otherwise.
  bool Start(std::string* error);
  // SIGTERM, and waits for it to end (it saves its sessions first).
  void Stop();
  bool Running() const { return pid_ > 0; }
  int Port() const { return port_; }
  std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
  // What it logged: its troubles, and each subscription ("<client> <qos> <filter>").
  std::string Log() const;

 private:
  std::string dir_;
  void WriteConfig() const;

  int port_ = 0;
  int securePort_ = 0;
  bool persistent_ = true;
  pid_t pid_ = -1;
};

struct ReceivedMessage {
  std::string topic;
  std::string payload;
  bool retained = false;
};

// Leaves a retained message on the broker (what an earlier run may have
// left); returns once the broker has it.
// A TCP port on the loopback nobody listens on now.
int FreePort();

bool PublishRetained(int port, const std::string& topic, const std::string& payload);
// Publishes one message at QoS 1; returns once the broker has it.
bool PublishOnce(int port, const std::string& topic, const std::string& payload, bool retain = false);

// The payloads of the messages on one topic, in the order they came.
std::vector<std::string> PayloadsOn(const std::vector<ReceivedMessage>& messages, const std::string& topic);

// A subscriber with a session the broker keeps (QoS 1), reconnecting by
// itself when the broker goes away: it receives every message published
// while it was subscribed, also across a broker restart.
class TestSubscriber {
 public:
  TestSubscriber(int port, std::string filter, std::string clientId, bool keepSession = true);
  ~TestSubscriber();

  // Connects and waits until the subscription stands; false on time-out.
  bool Start(int timeoutMs = 10000);
  // Waits until done(messages) holds; false at the time-out. done runs under
  // the subscriber's lock: it must look at its argument only.
  bool WaitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& done, int timeoutMs = 20000);
  std::vector<ReceivedMessage> Messages() const;
  // Returns once the broker has handled everything this subscriber sent
  // before, its acknowledgements of what it received among them (a
  // subscription's answer comes after them on the one connection): what
  // keeps a broker stopped next from handing those messages out again.
  bool Flush(int timeoutMs = 10000);
  // The payloads received on one topic, in order.
  std::vector<std::string> On(const std::string& topic) const;

 private:
  static void OnConnect(struct mosquitto*, void*, int);
  static void OnSubscribe(struct mosquitto*, void*, int, int, const int*);
  static void OnMessage(struct mosquitto*, void*, const struct mosquitto_message*);

  int port_;
  std::string filter_;
  struct mosquitto* client_ = nullptr;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ReceivedMessage> messages_;
  bool subscribed_ = false;
  int subscriptions_ = 0;  // answered subscriptions, Flush's among them
};

}  // namespace pelvaron::testing
