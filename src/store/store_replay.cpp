#include "store/store_replay.h"

#include "decode/decoded_message.h"
#include "events/event_json.h"
#include "outputs/command_request.h"

namespace pelvaron {

Event EventOfStored(const StoredEvent& stored) {
  Event e;
  e.seq = stored.seq;
  e.time = stored.time;
  e.timeText = stored.timeText;
  e.station = stored.station;
  for (EventKind k : AllEventKinds()) {
    if (EventKindName(k) == stored.kind) e.kind = k;
  }
  e.address = stored.address;
  e.text = stored.text;
  e.command = stored.command;
  e.detail = stored.detail;
  e.ref = stored.ref;
  e.operatorName = stored.operatorName;
  if (e.kind == EventKind::Message && (stored.cls.role == 1 || stored.cls.role == 2)) {
    // As the outputs had it first: a message the queue took, with its class.
    e.alarmRole = static_cast<std::uint8_t>(stored.cls.role);
    e.priority = stored.cls.priority;
    e.alarmKey = stored.cls.key;
  }
  if (e.kind == EventKind::Message && stored.frame.size() >= 10)
    e.message = std::make_shared<const DecodedMessage>(DecodeMessage(stored.frame.data()));
  return e;
}

StoreReplay::StoreReplay(std::string storePath, Report report, std::size_t batch)
    : storePath_(std::move(storePath)), reporter_(std::move(report)), batch_(batch) {}

StoreReplay::~StoreReplay() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void StoreReplay::Start(std::function<void()> wake) {
  wake_ = std::move(wake);
  thread_ = std::thread([this] { Run(); });
}

bool StoreReplay::Ask(std::string payload) {
  {
    std::lock_guard lock(mutex_);
    if (asked_.size() >= kMaxWaiting) return false;
    asked_.push_back(std::move(payload));
  }
  changed_.notify_all();
  return true;
}

std::vector<ReplayBatch> StoreReplay::TakeBatches() {
  std::vector<ReplayBatch> taken;
  {
    std::lock_guard lock(mutex_);
    taken.swap(ready_);
  }
  if (!taken.empty()) changed_.notify_all();
  return taken;
}

void StoreReplay::Run() {
  for (;;) {
    std::string payload;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || (!asked_.empty() && ready_.empty()); });
      if (stop_) return;
      payload = std::move(asked_.front());
      asked_.pop_front();
    }
    std::optional<ReplayBatch> batch = Answer(payload);
    if (!batch) continue;
    {
      std::lock_guard lock(mutex_);
      ready_.push_back(std::move(*batch));
    }
    if (wake_) wake_();
  }
}

std::optional<ReplayBatch> StoreReplay::Answer(const std::string& payload) {
  std::string id, problem;
  const std::optional<ReplayRequest> request = ParseReplayRequest(payload, id, problem);
  if (!request) {
    if (id.empty()) return {};  // nobody to answer
    return ReplayBatch{{}, CommandResultJson(id, false, problem)};
  }
  if (!open_) {
    if (Result<> opened = store_.Open(storePath_, EventStore::Mode::ReadOnly); !opened) {
      reporter_.Trouble("open", "Повтор событий для хаба невозможен: не открывается хранилище " + storePath_ + ": " +
                                    opened.problem().Told() + ".");
      return ReplayBatch{{}, CommandResultJson(id, false, "Хранилище событий консоли недоступно; повторите позже.")};
    }
    open_ = true;
  }
  Result<std::vector<StoredEvent>> found = store_.SeqRange(request->from, request->to, batch_);
  if (!found) {
    reporter_.Trouble("read", "Повтор событий для хаба не удался: " + found.problem().Told() + ".");
    store_.Close();
    open_ = false;
    return ReplayBatch{{}, CommandResultJson(id, false, "Хранилище событий консоли не читается; повторите позже.")};
  }
  reporter_.Recovered({});
  ReplayBatch batch;
  for (const StoredEvent& e : *found) batch.events.push_back(EventJson(EventOfStored(e)));
  batch.result = ReplayResultJson(id, found->size(), found->empty() ? 0 : found->back().seq);
  return batch;
}

}  // namespace pelvaron
