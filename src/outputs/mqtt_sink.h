#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "outputs/background_sink.h"
#include "outputs/desk_channel.h"
#include "outputs/disk_queue.h"
#include "outputs/event_replay.h"
#include "outputs/mqtt_mailbox.h"
#include "outputs/mqtt_network.h"
#include "outputs/mqtt_options.h"
#include "outputs/mqtt_retained.h"
#include "outputs/object_states.h"
#include "outputs/report.h"

namespace pelvaron {

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
//
// The alarm queue goes to pelvaron/<station>/alarms and the station's plans
// to .../plans (both retained, see MqttMailbox); with config.commands, the
// requests to the alarm desk on .../command/+ are heard and handed to the
// console's thread, and their answers go to .../command/result (DeskChannel).
//
// This class is what the console hands events to; the network thread
// (MqttNetwork) does the rest.
class MqttSink : public BackgroundSink, public ObjectStatesSink, public DeskChannel {
 public:
  static constexpr std::size_t kCapacity = 10000;

  MqttSink(MqttConfig config, Report report);
  ~MqttSink() override;

  // Before Open: where the plans come from.
  void SetPlansSource(MqttNetwork::PlansSource source) { network_.SetPlansSource(std::move(source)); }
  // Before Open: what answers command/replay (heard without config.commands
  // too: it only reads).
  void SetReplay(std::unique_ptr<EventReplay> replay);
  // Opens the queue and starts both threads; what cannot work yet is told
  // and tried again later.
  void Open();

  // DeskChannel, on the console's thread.
  std::vector<Heard> TakeRequests() override { return mailbox_.TakeRequests(); }
  void Answer(std::string result) override;
  void ShowAlarms(std::string alarms) override;

  // On the console's thread, after every refresh of the object list.
  void ObjectsShown(const std::vector<ObjectListRow>& rows) override;

  bool Connected() const { return network_.Connected(); }
  // Events the broker has acknowledged in this run.
  std::uint64_t Acknowledged() const { return network_.Acknowledged(); }
  std::uint64_t NetworkRounds() const { return network_.Rounds(); }
  const DiskQueue& Queue() const { return queue_; }

 protected:
  bool Deliver(const Event& event) override;
  void Overflow(const Event& event) override;

 private:
  bool OpenQueue();

  MqttConfig config_;
  Report report_;
  CauseReporter diskReporter_;  // the queue on disk
  DiskQueue queue_;
  RetainedStates states_;
  MqttMailbox mailbox_;

  // The console's thread's own: what it handed over last.
  std::vector<ObjectStatus> shown_;
  bool everShown_ = false;
  // The worker's own.
  std::uint64_t droppedReported_ = 0;

  MqttNetwork network_;
  std::unique_ptr<EventReplay> replay_;  // after network_: gone before it
};

}  // namespace pelvaron
