#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "alarms/alarm_class_sink.h"
#include "alarms/alarm_desk.h"
#include "app/console_hooks.h"
#include "core/clock.h"
#include "core/file_system.h"
#include "outputs/background_sink.h"
#include "store/store_sink.h"

namespace pelvaron {

// The event store and the alarm queue beside a console, as every console
// program runs them (with a window and without): the priority table loaded
// (the working folder's, else the shipped one), the store opened and the
// queue put back as the store left it, every event stored and seen by the
// queue, acknowledgements made with pelvaron-history recorded, the audible
// alarm while an alarm waits, and the store's troubles told once.
class EventRecords {
 public:
  struct Settings {
    std::string storePath = kEventStoreFileName;
    std::string tablePath = kPriorityTableFileName;
    bool sound = true;  // the queue sounds; tones unless the console's switches ask for alarm.wav
    std::function<void()> soundOverride;  // tests listen here instead
    std::size_t capacity = EventStoreSink::kDefaultCapacity;
    const char* vfs = nullptr;  // tests inject a failing file system
    int replayDays = 30;        // how far back the queue is put back from
    int pollSeconds = 2;        // how often the store is asked for outside acknowledgements
    std::string station;        // the console's name on its events
  };

  // Loads the priority table from fs at once; its problem is told at start-up.
  // The clock dates the queue's replay (the console's own is not running yet).
  EventRecords(FileSystem& fs, Clock& clock, Settings settings);
  ~EventRecords();
  EventRecords(const EventRecords&) = delete;
  EventRecords& operator=(const EventRecords&) = delete;

  // For the shells: before start-up, after each tick, after shutdown.
  ConsoleHooks Hooks();
  // Another output beside the store and the queue; before start-up.
  void AddOutput(EventSink* sink) { fanOut_.Add(sink); }

  // On the console's thread only.
  AlarmDesk& desk() { return desk_; }
  EventStoreSink& store() { return sink_; }
  const std::string& tableProblem() const { return tableProblem_; }

 private:
  // The store's share of the console's shutdown within a second: what it
  // could not take is kept for the next start, and told.
  static constexpr int kShutdownPatienceMs = 500;
  void AfterShutdown();
  void BeforeStartup(Console& console, Operator& op);
  void AfterTick(Console& console);
  void HearReport();  // what the store's thread has to tell, taken after a tick
  void Replay(std::int64_t now);

  Clock& clock_;
  Settings settings_;
  std::string tableProblem_;
  AlarmDesk desk_;
  // A member, not on the heap: the flag of its report, read after every
  // tick, shares its page with the rest of the records.
  EventStoreSink sink_;
  EventFanOut fanOut_;
  AlarmClassSink classed_;  // what the console publishes goes through it
  Operator* op_ = nullptr;
  std::int64_t lastPoll_ = 0;
};

}  // namespace pelvaron
