#include "alarms/event_records.h"

#include "core/cp1251.h"
#include "core/fixed_text.h"
#include "store/store_replay.h"

namespace pelvaron {

namespace {

PriorityTable LoadTable(FileSystem& fs, const std::string& path, std::string& problem) {
  Result<PriorityTable> loaded = LoadPriorityTable(fs, path);
  if (!loaded) problem = loaded.problem().text;
  return TableInForce(std::move(loaded));
}

std::string CommentOf(ObjectRegistry& objects, const std::string& address) {
  for (int slot = 1; slot <= objects.ObjectCount(); ++slot) {
    if (objects.AddressOf(slot) == address) return objects.CommentOf(slot);
  }
  return {};
}

}  // namespace

EventRecords::EventRecords(FileSystem& fs, Clock& clock, Settings settings)
    : clock_(clock),
      settings_(std::move(settings)),
      desk_(LoadTable(fs, settings_.tablePath, tableProblem_)),
      sink_(
          settings_.storePath,
          [&table = desk_.table()](const Event& event) { return StoredClassOf(table, event); },
          settings_.capacity, settings_.vfs),
      classed_(desk_.table(), fanOut_) {
  fanOut_.Add(&sink_);
  fanOut_.Add(&desk_);
}

EventRecords::~EventRecords() {
  sink_.Close(kShutdownPatienceMs);
}

void EventRecords::AfterShutdown() {
  const std::string told = sink_.Close(kShutdownPatienceMs);
  if (!told.empty() && op_ != nullptr) op_->ShowMessage({told, "", MessageIcon::Exclamation});
}

ConsoleHooks EventRecords::Hooks() {
  ConsoleHooks hooks;
  hooks.beforeStartup = [this](Console& console, Operator& op) { BeforeStartup(console, op); };
  hooks.afterTick = [this](Console& console) { AfterTick(console); };
  hooks.afterShutdown = [this](Console&) { AfterShutdown(); };
  return hooks;
}

void EventRecords::BeforeStartup(Console& console, Operator& op) {
  op_ = &op;
  if (!tableProblem_.empty()) op.ShowMessage({tableProblem_, "", MessageIcon::Exclamation});

  AlarmDesk::Hooks hooks;
  hooks.protocolLines = [&console](const std::string& stamped, const std::vector<std::string>& plain) {
    console.Protocol().AppendStampedLine(stamped);
    for (const std::string& line : plain) console.Protocol().AppendPlainLine(line);
  };
  hooks.publish = [&console](Event event) { console.Publish(std::move(event)); };
  hooks.commentOf = [&console](const std::string& address) { return CommentOf(console.Objects(), address); };
  hooks.now = [&console] { return console.timeNow; };
  hooks.refused = [&op](const std::string& text) {
    op.ShowMessage({text, "Очередь тревог", MessageIcon::Exclamation});
  };
  if (settings_.soundOverride) {
    hooks.sound = [listen = settings_.soundOverride](bool) { listen(); };
  } else if (settings_.sound) {
    // alarm.wav when the console was asked for it, else the tones.
    hooks.sound = [&console, &op](bool newAlarm) {
      op.SoundAlarm(console.bAlarmSound, console.bAlarmBeep || !console.bAlarmSound, newAlarm);
    };
  }
  desk_.SetHooks(std::move(hooks));

  if (const Result<> opened = sink_.OpenNow(); opened) {
    if (const Result<std::uint64_t> highest = sink_.store().HighestSeq()) console.NumberEventsAbove(*highest);
    Replay(clock_.Now());
  } else {
    op.ShowMessage({"Хранилище событий " + settings_.storePath + " не открывается: " + opened.problem().text +
                        ". События ждут в очереди, пока оно не откроется; наблюдение продолжается. (" +
                        opened.problem().cause + ")",
                    "", MessageIcon::Exclamation});
    sink_.MarkFailing();
  }
  console.SetEventSink(&classed_, settings_.station);
  sink_.Start();
}

void EventRecords::Replay(std::int64_t now) {
  const std::int64_t since = now > 0 ? now - static_cast<std::int64_t>(settings_.replayDays) * 86400 : 0;
  const Result<std::vector<StoredEvent>> rows = sink_.store().AlarmHistory(since);
  if (!rows) return;
  const PriorityTable& table = desk_.table();
  for (const StoredEvent& row : *rows) {
    const Event event = EventOfStored(row);
    AlarmClass cls;
    cls.priority = table.Find(row.cls.priority);
    cls.role = row.cls.role == 1 ? AlarmRole::Alarm : row.cls.role == 2 ? AlarmRole::Restore : AlarmRole::None;
    cls.key = row.cls.key;
    desk_.Replay(event, cls);
  }
  desk_.ReplayDone();
}

void EventRecords::AfterTick(Console& console) {
  desk_.Tick(console.timeNow);
  if (console.timeNow - lastPoll_ >= settings_.pollSeconds || console.timeNow < lastPoll_) {
    lastPoll_ = console.timeNow;
    sink_.RequestPoll();
  }
  // Nearly always nothing to hear.
  if (sink_.ReportWaiting()) HearReport();
}

void EventRecords::HearReport() {
  EventStoreSink::Report report = sink_.TakeReport();
  if (op_ != nullptr) {
    if (!report.problem.empty()) op_->ShowMessage({report.problem, "", MessageIcon::Exclamation});
    if (!report.recovered.empty()) op_->ShowMessage({report.recovered, "", MessageIcon::Information});
  }
  for (const PendingAcknowledgement& a : report.acknowledgements) {
    desk_.AcknowledgeFromOutside(a.ref, a.address, a.text, a.note, a.source, a.operatorName);
  }
}

}  // namespace pelvaron
