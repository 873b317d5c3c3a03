#include <mutex>

#include "hub/web/web_db.h"

namespace pelvaron {

namespace {

class ReachableWebDb final : public WebDb {
 public:
  using Clock = std::chrono::steady_clock;
  ReachableWebDb(std::string where, std::function<Result<>(WebDb&)> prepare, std::chrono::milliseconds retry)
      : where_(std::move(where)), prepare_(std::move(prepare)), retry_(retry) {}

  Result<std::vector<Row>> Query(const std::string& sql, const std::vector<std::string>& params) override {
    Problem why;
    WebDb* db = Connection(why);
    if (db == nullptr) return why;
    return db->Query(sql, params);
  }

 private:
  // The connection, opened when due; nullptr while the database is away.
  WebDb* Connection(Problem& why) {
    std::lock_guard lock(mutex_);
    if (db_) return db_.get();
    why = lastProblem_;
    const Clock::time_point now = Clock::now();
    if (now < nextAttempt_) return nullptr;
    nextAttempt_ = now + retry_;
    Result<std::unique_ptr<WebDb>> opened = OpenWebDb(where_);
    if (!opened) {
      why = lastProblem_ = opened.problem();
      return nullptr;
    }
    if (prepare_) {
      if (Result<> prepared = prepare_(**opened); !prepared) {
        why = lastProblem_ = prepared.problem();
        return nullptr;
      }
    }
    db_ = std::move(*opened);
    return db_.get();
  }

  const std::string where_;
  const std::function<Result<>(WebDb&)> prepare_;
  const std::chrono::milliseconds retry_;
  std::mutex mutex_;  // the opening; the connection guards its own queries
  std::unique_ptr<WebDb> db_;
  Problem lastProblem_{"База хаба ещё не открыта"};
  Clock::time_point nextAttempt_{};
};

}  // namespace

std::unique_ptr<WebDb> OpenWebDbWhenReachable(std::string where, std::function<Result<>(WebDb&)> prepare,
                                              std::chrono::milliseconds retry) {
  return std::make_unique<ReachableWebDb>(std::move(where), std::move(prepare), retry);
}

}  // namespace pelvaron
