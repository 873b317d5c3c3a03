#include "hub/hub.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <random>

namespace pelvaron {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kIdleWaitMs = 500;

// This run's own request ids among other hubs' on the broker.
std::string ReplayIdPrefix() {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "replay-%08x", static_cast<unsigned>(std::random_device{}()));
  return prefix;
}

}  // namespace

std::string DefaultHubClientId() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') std::snprintf(host, sizeof host, "localhost");
  return std::string("pelvaron-hub-") + host;
}

Hub::Hub(HubSettings settings, Report report)
    : settings_(std::move(settings)),
      report_(std::move(report)),
      storeReporter_(report_),
      pictureReporter_(report_),
      pictureFile_(picture_, settings_.pictureFile),
      commands_([this](const std::string& topic, const std::string& payload) {
        std::lock_guard lock(mutex_);
        if (!connected_) return false;
        outbox_.emplace_back(topic, payload);
        Wake();
        return true;
      }),
      replay_(ReplayIdPrefix()),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  HubMqtt::Session session;
  session.clientId = settings_.clientId.empty() ? DefaultHubClientId() : settings_.clientId;
  mqtt_ = std::make_unique<HubMqtt>(settings_.mqtt, session, report_, static_cast<HubMqtt::Handler&>(*this));
}

Hub::~Hub() = default;

void Hub::Wake() {
  const std::uint64_t one = 1;
  if (wakeFd_) [[maybe_unused]] const ssize_t n = ::write(wakeFd_.get(), &one, sizeof one);
}

std::uint64_t Hub::Stored() const {
  std::lock_guard lock(mutex_);
  return stored_;
}

std::int64_t Hub::NowSeconds() const {
  return static_cast<std::int64_t>(std::time(nullptr));
}

void Hub::Message(std::string_view topic, std::string_view payload, bool /*retained*/) {
  // pelvaron/<station>/<rest>
  if (topic.rfind("pelvaron/", 0) != 0) return;
  const std::string_view tail = topic.substr(9);
  const std::size_t slash = tail.find('/');
  if (slash == std::string_view::npos || slash == 0) return;
  const std::string station(tail.substr(0, slash));
  const std::string_view rest = tail.substr(slash + 1);
  if (rest == "event") {
    TakeEvent(station, payload);
  } else if (rest == "command/result") {
    std::optional<ReplayPlanner::Done> done;
    const auto newest = seqs_.Last().find(station);
    if (!replay_.Answer(station, payload, newest != seqs_.Last().end() ? newest->second : 0, Clock::now(), done)) {
      commands_.Answer(station, payload);
    } else if (done) {
      Replayed(*done);
    }
  } else {
    if (rest == "online") replay_.Online(station, payload == "online");
    picture_.Apply(station, rest, payload);
  }
}

void Hub::Connected(bool sessionPresent) {
  replay_.Reconnected();
  if (sessionPresent) return;
  // What the broker held for the hub is gone: the consoles send it again.
  for (const auto& [station, last] : seqs_.Last()) replay_.Want(station, last + 1);
}

void Hub::Replayed(const ReplayPlanner::Done& done) {
  if (!done.gap) return;
  closing_.push_back({done.station, done.from - 1, done.to + 1, NowSeconds()});
  // A gap answered with nothing was numbers the console never used: closed quietly.
  if (done.events > 0)
    report_("Восполнен пропуск в событиях консоли " + done.station + " после №" + std::to_string(done.from - 1) +
            ": консоль прислала недостающие события снова.");
}

void Hub::Subscribed() {
  if (subscribedTold_) return;
  subscribedTold_ = true;
  report_("Хаб получает события консолей (pelvaron/+/#); брокер хранит их для хаба, пока его нет.");
}

void Hub::TakeEvent(const std::string& station, std::string_view payload) {
  Result<HubEvent> event = ParseHubEvent(station, std::string(payload));
  if (!event) {
    if (malformedTold_.insert(station).second)
      report_("Консоль " + station + " прислала не событие: " + event.problem().text +
              "; такие сообщения хаб пропускает (сказано один раз).");
    return;
  }
  replay_.Saw(station, event->seq);
  const SeqTracker::Seen seen = seqs_.See(*event, NowSeconds());
  if (const std::optional<SeqGap>& gap = seen.gap) {
    const std::int64_t missing = gap->beforeSeq - gap->afterSeq - 1;
    report_("Пропуск в событиях консоли " + station + ": после №" + std::to_string(gap->afterSeq) + " пришло №" +
            std::to_string(gap->beforeSeq) + ", не пришло событий: " + std::to_string(missing) + ".");
    gaps_.push_back(*gap);
    replay_.Want(station, gap->afterSeq + 1, gap->beforeSeq - 1, true);
  }
  if (seen.newest) picture_.SawEvent(station, event->timeText);
  if (waiting_.size() >= settings_.maxWaiting) {
    const HubEvent& lost = waiting_.front();
    auto [range, first] = dropped_.try_emplace(lost.station, lost.seq, lost.seq);
    range->second.first = std::min(range->second.first, lost.seq);
    range->second.second = std::max(range->second.second, lost.seq);
    waiting_.erase(waiting_.begin());
    if (!droppedTold_) {
      droppedTold_ = true;
      report_("Хранилище событий недоступно слишком долго: в памяти " + std::to_string(settings_.maxWaiting) +
              " событий, самые старые из них вытесняются; когда хранилище заработает, хаб попросит их у консолей снова.");
    }
  }
  waiting_.push_back(std::move(*event));
}

void Hub::OpenStoreWhenDue(Clock::time_point now) {
  if (store_ || now < nextStoreAttempt_) return;
  Result<std::unique_ptr<HubStore>> opened = OpenHubStore(settings_.store);
  Result<std::map<std::string, std::int64_t>> last =
      opened ? (*opened)->LastSeqs() : Result<std::map<std::string, std::int64_t>>(opened.problem());
  if (!last) {
    const std::string where = IsPostgresUrl(settings_.store) ? "PostgreSQL" : settings_.store;
    const std::string check = IsPostgresUrl(settings_.store)
                                  ? "Проверьте, что сервер PostgreSQL запущен и доступен по адресу из --store"
                                  : "Проверьте путь и права на папку хаба";
    storeReporter_.Trouble("open", "Не удалось открыть хранилище событий " + where + ": " + last.problem().Told() +
                                       ". " + check + ". Хаб работает: события ждут в памяти, табло веб-консоли "
                                       "показывает станцию, а вход и история ответят, когда хранилище заработает; "
                                       "хаб пробует снова каждые " +
                                       std::to_string(settings_.storeRetryMs / 1000) + " с.");
    nextStoreAttempt_ = now + std::chrono::milliseconds(settings_.storeRetryMs);
    return;
  }
  store_ = std::move(*opened);
  storeReporter_.Recovered("Хранилище событий " + store_->Where() + " открыто.");
  seqs_.Know(*last);
  if (startAsked_) return;
  startAsked_ = true;
  // What the hub read and had not stored when it ended (a kill, a power cut)
  // and the gaps still open: asked of the consoles again.
  for (const auto& [station, seq] : *last) replay_.Want(station, seq + 1);
  if (Result<std::vector<SeqGap>> gaps = store_->Gaps()) {
    for (const SeqGap& gap : *gaps) replay_.Want(gap.station, gap.afterSeq + 1, gap.beforeSeq - 1, true);
  }
}

void Hub::StoreWhenDue(Clock::time_point now) {
  if (waiting_.empty() && gaps_.empty()) return CloseGapsWhenDue();
  OpenStoreWhenDue(now);
  if (!store_ || now < nextStoreAttempt_) return;
  Result<std::size_t> written = store_->Write(waiting_, gaps_);
  if (!written) {
    storeReporter_.Trouble("write", "Не удалось записать события в " + store_->Where() + ": " +
                                        written.problem().Told() + ". События ждут в памяти (" +
                                        std::to_string(waiting_.size()) + "); хаб пробует снова.");
    nextStoreAttempt_ = now + std::chrono::milliseconds(settings_.storeRetryMs);
    return;
  }
  storeReporter_.Recovered("Хранилище событий " + store_->Where() + " снова работает; события из памяти записаны.");
  {
    std::lock_guard lock(mutex_);
    stored_ += *written;
  }
  waiting_.clear();
  gaps_.clear();
  droppedTold_ = false;
  for (const auto& [station, range] : dropped_) replay_.Want(station, range.first, range.second);
  dropped_.clear();
  CloseGapsWhenDue();
}

// After the events sent again are stored (the same turn's write, or one before).
void Hub::CloseGapsWhenDue() {
  if (closing_.empty() || !store_) return;
  while (!closing_.empty()) {
    if (Result<> closed = store_->CloseGap(closing_.back()); !closed) {
      storeReporter_.Trouble("gap", "Не удалось отметить пропуск восполненным в " + store_->Where() + ": " +
                                        closed.problem().Told() + "; хаб пробует снова.");
      return;
    }
    closing_.pop_back();
  }
}

void Hub::SendOutbox() {
  std::deque<std::pair<std::string, std::string>> out;
  {
    std::lock_guard lock(mutex_);
    connected_ = mqtt_->Connected();
    out.swap(outbox_);
  }
  for (const auto& [topic, payload] : out) mqtt_->Publish(topic, payload);
  if (!mqtt_->Connected()) return;
  if (std::optional<ReplayPlanner::Request> ask = replay_.Next(Clock::now())) mqtt_->Publish(ask->topic, ask->payload);
}

void Hub::Run(const std::function<bool()>& stop, const sigset_t* mask, const std::function<void()>& ready) {
  OpenStoreWhenDue(Clock::now());
  if (ready) ready();
  while (!stop()) {
    auto now = Clock::now();
    int waitMs = kIdleWaitMs;
    if (const int due = pictureFile_.DueInMs(now); due >= 0) waitMs = std::min(waitMs, due);
    if (!waiting_.empty() || !gaps_.empty() || !closing_.empty()) waitMs = std::min(waitMs, 100);
    if (const std::optional<int> due = replay_.DueInMs(now); due && mqtt_->Connected()) waitMs = std::min(waitMs, *due);
    mqtt_->Turn(waitMs, wakeFd_.get(), mask);
    std::uint64_t drained;
    while (::read(wakeFd_.get(), &drained, sizeof drained) > 0) {
    }
    now = Clock::now();
    OpenStoreWhenDue(now);
    StoreWhenDue(now);
    SendOutbox();
    commands_.Expire(now);
    if (Result<> written = pictureFile_.Update(now); !written) {
      pictureReporter_.Trouble("write", written.problem().Told() + ".");
    } else {
      pictureReporter_.Recovered({});
    }
  }
  StoreWhenDue(Clock::now() + std::chrono::hours(1));  // whatever is read is stored before the end
  if (!waiting_.empty())
    report_("Хаб остановлен, не записав " + std::to_string(waiting_.size()) +
            " событий: хранилище недоступно. Они есть в хранилищах консолей (events.sqlite).");
  mqtt_->Disconnect();
  if (Result<> written = pictureFile_.Update(Clock::now() + std::chrono::hours(1)); !written)
    pictureReporter_.Trouble("write", written.problem().Told() + ".");
}

}  // namespace pelvaron
