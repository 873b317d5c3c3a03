#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "outputs/background_sink.h"
#include "outputs/disk_queue.h"
#include "outputs/mosquitto_library.h"
#include "outputs/object_states.h"
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
  std::string credentialsFile;  // read again before each connection when given: user, password
  std::string station;
  std::string discoveryPrefix;  // empty: no discovery messages
  std::string queueDir = "mqtt-queue";
  DiskQueue::Limits queueLimits;
  const char* library = MosquittoLibrary::kName;
  int keepaliveS = 30;
  int reconnectMinMs = 1000;
  int reconnectMaxMs = 10000;
  int syncEveryMs = 1000;   // how often queued records are made durable
  std::size_t window = 16;  // events sent and not yet acknowledged, at most
  int drainMs = 2000;       // at shutdown, how long to wait for the broker
};

// The broker's user and password: from the file (user on the first line,
// password on the second), else from PELVARON_MQTT_USER and
// PELVARON_MQTT_PASSWORD. Returns why the file could not be read, or nothing.
std::string ReadMqttCredentials(const std::string& file, std::string& user, std::string& password);

// --mqtt: the events and the station's states on a broker.
//
// Every event goes to pelvaron/<station>/event (QoS 1, not retained) through
// a queue on disk in the working folder (DiskQueue): the console's thread
// only queues in memory; this output's worker appends each event to the disk
// queue, and a network thread of its own sends from it, in order, at most
// `window` unacknowledged at a time, and records each acknowledgement. After
// a lost connection or a restart it sends again from the first
// unacknowledged event: every event reaches the broker at least once and in
// order; the only duplicates are events that were in flight when the
// connection or the process ended (as QoS 1 allows). Subscribers can drop
// them by seq. A record in the queue that is not an event (a damaged or
// foreign file) is skipped and told once for its file.
//
// Retained states (StationState) go to pelvaron/<station>/status/... and
// .../object/<address> when they change and all of them on every connect;
// the objects' states are the console's own object list, handed over by
// ObjectsShown. What the broker still keeps of objects that are no longer
// registered (a deleted object, also one deleted while the console was not
// running) is removed with empty retained messages, discovery configs too.
// pelvaron/<station>/online is "online" while connected, "offline" after an
// orderly stop and, as the will, after a crash.
//
// Nothing stops it for good: a library that is missing, a queue folder that
// cannot be opened, unreadable credentials or a broker that refuses are each
// told once and tried again, as a broker that is away is; events wait
// meanwhile (on disk, or in memory while the disk queue cannot be opened).
class MqttSink : public BackgroundSink, public ObjectStatesSink {
 public:
  static constexpr std::size_t kCapacity = 10000;

  MqttSink(MqttConfig config, Report report);
  ~MqttSink() override;

  // Opens the queue and starts both threads; what cannot work yet is told
  // and tried again later.
  void Open();

  // On the console's thread, after every refresh of the object list.
  void ObjectsShown(const std::vector<ObjectListRow>& rows) override;

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
  static void OnMessage(struct mosquitto* client, void* self, const MosquittoMessage* message);

  bool OpenQueue();
  void NetworkLoop();
  bool Connect();
  void Fail(int rc);
  void DropConnection();
  void OnConnected(int rc);
  void SendEvents();
  void PublishStates();
  bool PublishRetained(const std::string& topic, const std::string& payload);
  void PopAcknowledged();
  void Wake();
  std::string Where() const;
  std::string ConnackText(int rc) const;
  std::string LibraryError(int rc) const;

  MqttConfig config_;
  Report report_;
  CauseReporter reporter_;      // the broker and the library
  CauseReporter diskReporter_;  // the queue on disk
  const MosquittoLibrary* lib_ = nullptr;  // the network thread's once it runs
  DiskQueue queue_;
  std::string base_;  // "pelvaron/<station>/"
  std::string eventTopic_;
  std::string clientId_;

  // Shared between the console's thread, the worker and the network thread.
  std::mutex stateMutex_;
  StationState state_;
  std::atomic<bool> statesChanged_{false};

  // The console's thread's own: what it handed over last.
  std::vector<ObjectStatus> shown_;
  bool everShown_ = false;

  // The network thread's own.
  struct mosquitto* client_ = nullptr;
  std::deque<InFlight> inFlight_;
  std::set<QueuePosition> ackedAhead_;  // acknowledged behind an unacknowledged one
  // What the broker keeps in this session by topic, as published, or as it
  // told on subscribing (what an earlier run left).
  std::map<std::string, std::string> retained_;
  std::set<std::uint64_t> garbageTold_;  // segments with a record that is no event
  bool dropRequested_ = false;
  int dropRc_ = 0;        // why the connection is to be dropped, when the library said
  bool refused_ = false;  // the broker refused this attempt (and that was told)
  std::chrono::steady_clock::time_point connectStarted_;

  std::atomic<bool> connected_{false};
  std::atomic<bool> finishing_{false};
  std::atomic<std::uint64_t> acknowledged_{0};
  std::uint64_t droppedReported_ = 0;
  int wakeFd_ = -1;
  std::thread network_;
};

}  // namespace pelvaron
