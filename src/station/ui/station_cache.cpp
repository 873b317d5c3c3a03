#include "station/ui/station_cache.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <algorithm>
#include <filesystem>

#include "station/station_store.h"
#include "station/ui/off_thread.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

namespace {

struct Snapshot {
  std::vector<ResponsePlan> plans;
  std::vector<OperatorAccount> operators;
};

Result<Snapshot> ReadStation(const std::string& path) {
  std::error_code ec;
  // No file: a station that keeps neither plans nor operators. Reading never makes one.
  if (!std::filesystem::exists(path, ec)) return Snapshot{};
  StationStore store;
  if (Result<> opened = store.Open(path, StationStore::Mode::ReadOnly); !opened) return opened.problem();
  Result<std::vector<ResponsePlan>> plans = store.Plans();
  if (!plans) return plans.problem();
  Result<std::vector<OperatorAccount>> operators = store.Operators();
  if (!operators) return operators.problem();
  return Snapshot{std::move(*plans), std::move(*operators)};
}

}  // namespace

StationCache::StationCache(std::string path, QObject* parent) : QObject(parent), path_(std::move(path)) {
  watcher_ = new QFileSystemWatcher(this);
  settle_ = new QTimer(this);
  settle_->setSingleShot(true);
  settle_->setInterval(500);
  connect(settle_, &QTimer::timeout, this, &StationCache::reload);
  // The folder tells when the store appears or is replaced; the file when it is written.
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (!watcher_->files().isEmpty()) return;
    watch();
    if (!watcher_->files().isEmpty()) settle_->start();
  });
  connect(watcher_, &QFileSystemWatcher::fileChanged, this, [this] {
    watch();
    settle_->start();
  });
}

void StationCache::watch() {
  const QFileInfo file(Utf8(path_));
  if (watcher_->directories().isEmpty()) watcher_->addPath(file.absolutePath());
  if (watcher_->files().isEmpty() && file.exists()) watcher_->addPath(file.absoluteFilePath());
}

void StationCache::reload() {
  watch();
  const int generation = ++generation_;
  RunOffThread<Result<Snapshot>>(
      this, [path = path_] { return ReadStation(path); },
      [this, generation](Result<Snapshot> read) {
        if (generation != generation_) return;
        if (!read) {
          const std::string text = read.problem().Told();
          if (text != lastProblem_) emit failed(Utf8(text));
          lastProblem_ = text;
          return;
        }
        lastProblem_.clear();
        set(std::move(read->plans), std::move(read->operators));
      });
}

void StationCache::set(std::vector<ResponsePlan> plans, std::vector<OperatorAccount> operators) {
  ++generation_;  // newer than any read still under way
  plans_ = std::move(plans);
  operators_ = std::move(operators);
  loaded_ = true;
  emit changed();
}

std::optional<OperatorAccount> StationCache::account(const std::string& name) const {
  auto it = std::find_if(operators_.begin(), operators_.end(), [&](const OperatorAccount& a) { return a.name == name; });
  if (it == operators_.end()) return std::nullopt;
  return *it;
}

std::optional<ResponsePlan> StationCache::plan(const std::string& address, const std::string& priority) const {
  auto it = std::find_if(plans_.begin(), plans_.end(),
                         [&](const ResponsePlan& p) { return p.address == address && p.priority == priority; });
  if (it == plans_.end()) return std::nullopt;
  return *it;
}

std::optional<ResponsePlan> StationCache::planFor(const std::string& address, const std::string& priorityName) const {
  // As the store's own lookup: the object's plan, then its priority's default.
  if (!address.empty()) {
    if (auto own = plan(address, "")) return own;
  }
  if (!priorityName.empty()) return plan("", priorityName);
  return std::nullopt;
}

}  // namespace pelvaron::ui
