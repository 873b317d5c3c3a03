#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "outputs/background_sink.h"
#include "outputs/disk_queue.h"
#include "outputs/mosquitto_library.h"
#include "outputs/report.h"
#include "outputs/station_state.h"

namespace pelvaron {

struct MqttUrl {
  bool tls = false;
  std::string host;
  int port = 1883;
};

// "mqtt://host[:port]" (1883) or "mqtts://host[:port]" (8883); an IPv6
// address in brackets. Returns why not, or nothing. A user or password in
// the address is refused: they would show in the process list.
std::string ParseMqttUrl(std::string_view url, MqttUrl& out);

struct MqttConfig {
  MqttUrl url;
  std::string caFile;  // mqtts: the CA certificate; otherwise the system's CAs
  std::string user;
  std::string password;
  std::string station;
  std::string discoveryPrefix;  // empty: no discovery messages
  std::string queueDir = "mqtt-queue";
  DiskQueue::Limits queueLimits;
  int keepaliveS = 30;
  int reconnectMinMs = 1000;
  int reconnectMaxMs = 10000;
  int syncEveryMs = 1000;   // how often queued records are made durable
  std::size_t window = 16;  // events sent and not yet acknowledged, at most
  int drainMs = 2000;       // at shutdown, how long to wait for the broker
};

// --mqtt: the events and the station's states on a broker.
//
// Every event goes to pelvaron/<station>/event (QoS 1) through a queue on
// disk in the working folder (DiskQueue): the console's thread only queues
// in memory; this output's worker appends each event to the disk queue, and
// a network thread of its own sends from it, in order, at most `window`
// unacknowledged at a time, and records each acknowledgement. After a lost
// connection or a restart it sends again from the first unacknowledged
// event: every event reaches the broker at least once and in order; the only
// duplicates are events that were in flight when the connection or the
// process ended (as QoS 1 allows). Subscribers can drop them by seq.
//
// Retained states (StationState) go to pelvaron/<station>/status/... and
// .../object/<address> when they change and all of them on every connect;
// pelvaron/<station>/online is "online" while connected, "offline" after an
// orderly stop and, as the will, after a crash.
class MqttSink : public BackgroundSink {
 public:
  static constexpr std::size_t kCapacity = 10000;

  MqttSink(MqttConfig config, Report report);
  ~MqttSink() override;

  // Loads the library, opens the queue and starts both threads. Returns why
  // it could not (in Russian), or nothing.
  std::string Open();

  bool Connected() const { return connected_.load(); }
  // Events the broker has acknowledged in this run.
  std::uint64_t Acknowledged() const { return acknowledged_.load(); }
  const DiskQueue& Queue() const { return queue_; }

 protected:
  bool Deliver(const Event& event) override;
  void Overflow(const Event& event) override;

 private:
  struct InFlight {
    int mid = 0;
    QueuePosition end;
    bool acked = false;
  };

  static void OnConnect(struct mosquitto* client, void* self, int rc);
  static void OnDisconnect(struct mosquitto* client, void* self, int rc);
  static void OnPublish(struct mosquitto* client, void* self, int mid);

  void NetworkLoop();
  bool Connect();
  void Fail(int rc);
  void DropConnection();
  void OnConnected(int rc);
  void SendEvents();
  void PublishChangedStates(bool all);
  bool PublishRetained(const std::string& topic, const std::string& payload);
  void PopAcknowledged();
  void SaveObjectsIfChanged(bool force);
  void Wake();
  std::string Where() const;
  std::string ConnackText(int rc) const;
  std::string LibraryError(int rc) const;

  MqttConfig config_;
  Report report_;
  CauseReporter reporter_;      // the broker
  CauseReporter diskReporter_;  // the queue on disk
  const MosquittoLibrary* lib_ = nullptr;
  DiskQueue queue_;
  std::string base_;  // "pelvaron/<station>/"
  std::string eventTopic_;
  std::string clientId_;

  // Shared between the worker (which applies events) and the network thread.
  std::mutex stateMutex_;
  StationState state_;
  bool objectsChanged_ = false;  // an object's last event: saved within a minute
  bool controlChanged_ = false;  // an object's control state: saved within a second

  // The network thread's own.
  struct mosquitto* client_ = nullptr;
  std::deque<InFlight> inFlight_;
  std::set<QueuePosition> ackedAhead_;  // acknowledged behind an unacknowledged one
  std::set<std::string> discovered_;
  bool dropRequested_ = false;
  int dropRc_ = 0;        // why the connection is to be dropped, when the library said
  bool refused_ = false;  // the broker refused this attempt (and that was told)
  bool everConnected_ = false;
  std::chrono::steady_clock::time_point connectStarted_;

  std::atomic<bool> connected_{false};
  std::atomic<bool> finishing_{false};
  std::atomic<std::uint64_t> acknowledged_{0};
  std::uint64_t droppedReported_ = 0;
  int wakeFd_ = -1;
  std::thread network_;
};

}  // namespace pelvaron
