#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/unique_fd.h"
#include "hub/command_sender.h"
#include "hub/hub_mqtt.h"
#include "hub/hub_store.h"
#include "hub/picture_file.h"
#include "hub/replay_planner.h"
#include "hub/seq_tracker.h"
#include "hub/station_picture.h"
#include "outputs/report.h"

namespace pelvaron {

struct HubSettings {
  MqttConfig mqtt;
  std::string clientId;                   // the persistent session's
  std::string store = kHubStoreFileName;  // a path or a postgresql:// URL
  std::string pictureFile = "picture.json";
  int storeRetryMs = 5000;
  std::size_t maxWaiting = 1000000;  // events kept in memory while the store fails
};

// The hub: every console's messages from the broker into the picture, their
// events into the one store (in batches, each read burst one transaction),
// commands out and their answers back. One thread runs it (Run); the picture
// and the command sender may be used from others.
class Hub : private HubMqtt::Handler {
 public:
  Hub(HubSettings settings, Report report);
  ~Hub() override;

  // Until stop() holds or a signal of mask comes (mask: what ppoll waits
  // with, nullptr for none). ready: once, when the store is open (or known
  // not to be) and the broker is being asked.
  void Run(const std::function<bool()>& stop, const sigset_t* mask, const std::function<void()>& ready = {});
  // Wakes Run's wait (any thread).
  void Wake();

  StationPicture& Picture() { return picture_; }
  CommandSender& Commands() { return commands_; }
  // Events stored since the start (the hub's thread's figure, read anywhere).
  std::uint64_t Stored() const;

 private:
  void Message(std::string_view topic, std::string_view payload, bool retained) override;
  void Subscribed() override;
  void Connected(bool sessionPresent) override;
  void Replayed(const ReplayPlanner::Done& done);
  void CloseGapsWhenDue();
  void TakeEvent(const std::string& station, std::string_view payload);
  void OpenStoreWhenDue(std::chrono::steady_clock::time_point now);
  void StoreWhenDue(std::chrono::steady_clock::time_point now);
  void SendOutbox();
  std::int64_t NowSeconds() const;

  HubSettings settings_;
  Report report_;
  CauseReporter storeReporter_;
  CauseReporter pictureReporter_;
  std::set<std::string> malformedTold_;
  StationPicture picture_;
  PictureFile pictureFile_;
  CommandSender commands_;
  std::unique_ptr<HubMqtt> mqtt_;
  std::unique_ptr<HubStore> store_;
  SeqTracker seqs_;
  std::vector<HubEvent> waiting_;  // read, not yet stored
  std::vector<SeqGap> gaps_;
  // Events are asked again from the consoles for what the hub lost: its own
  // crash, a broker that forgot its session, a store away too long, a gap.
  ReplayPlanner replay_;
  bool startAsked_ = false;
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> dropped_;  // first and last seq dropped
  std::vector<SeqGap> closing_;  // gaps sent again, closed once their events are stored
  std::chrono::steady_clock::time_point nextStoreAttempt_{};
  bool droppedTold_ = false;
  bool subscribedTold_ = false;

  mutable std::mutex mutex_;  // the outbox and the figures
  std::deque<std::pair<std::string, std::string>> outbox_;
  bool connected_ = false;
  std::uint64_t stored_ = 0;
  UniqueFd wakeFd_;
};

// "pelvaron-hub-<hostname>".
std::string DefaultHubClientId();

}  // namespace pelvaron
