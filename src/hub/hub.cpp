#include "hub/hub.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

namespace pelvaron {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kIdleWaitMs = 500;

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
    commands_.Answer(station, payload);
  } else {
    picture_.Apply(station, rest, payload);
  }
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
  const SeqTracker::Seen seen = seqs_.See(*event, NowSeconds());
  if (const std::optional<SeqGap>& gap = seen.gap) {
    const std::int64_t missing = gap->beforeSeq - gap->afterSeq - 1;
    report_("Пропуск в событиях консоли " + station + ": после №" + std::to_string(gap->afterSeq) + " пришло №" +
            std::to_string(gap->beforeSeq) + ", не пришло событий: " + std::to_string(missing) + ".");
    gaps_.push_back(*gap);
  }
  if (seen.newest) picture_.SawEvent(station, event->timeText);
  if (waiting_.size() >= settings_.maxWaiting) {
    waiting_.erase(waiting_.begin());
    if (!droppedTold_) {
      droppedTold_ = true;
      report_("Хранилище событий недоступно слишком долго: в памяти " + std::to_string(settings_.maxWaiting) +
              " событий, самые старые из них теряются.");
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
    storeReporter_.Trouble("open", "Не удалось открыть хранилище событий " + where + ": " + last.problem().Told() +
                                       ". События ждут в памяти; хаб пробует снова каждые " +
                                       std::to_string(settings_.storeRetryMs / 1000) + " с.");
    nextStoreAttempt_ = now + std::chrono::milliseconds(settings_.storeRetryMs);
    return;
  }
  store_ = std::move(*opened);
  seqs_.Know(*last);
}

void Hub::StoreWhenDue(Clock::time_point now) {
  if (waiting_.empty() && gaps_.empty()) return;
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
}

void Hub::SendOutbox() {
  std::deque<std::pair<std::string, std::string>> out;
  {
    std::lock_guard lock(mutex_);
    connected_ = mqtt_->Connected();
    out.swap(outbox_);
  }
  for (const auto& [topic, payload] : out) mqtt_->Publish(topic, payload);
}

void Hub::Run(const std::function<bool()>& stop, const sigset_t* mask, const std::function<void()>& ready) {
  OpenStoreWhenDue(Clock::now());
  if (ready) ready();
  while (!stop()) {
    auto now = Clock::now();
    int waitMs = kIdleWaitMs;
    if (const int due = pictureFile_.DueInMs(now); due >= 0) waitMs = std::min(waitMs, due);
    if (!waiting_.empty() || !gaps_.empty()) waitMs = std::min(waitMs, 100);
    mqtt_->Turn(waitMs, wakeFd_.get(), mask);
    std::uint64_t drained;
    while (::read(wakeFd_.get(), &drained, sizeof drained) > 0) {
    }
    now = Clock::now();
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
