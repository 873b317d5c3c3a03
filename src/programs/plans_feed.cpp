#include "programs/plans_feed.h"

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "station/station_store.h"

namespace pelvaron {

PlansFeed::PlansFeed(std::string path, Report report) : path_(std::move(path)), reporter_(std::move(report)) {}

PlansFeed::FileLook PlansFeed::Look(const std::string& file) const {
  struct stat s {};
  if (::stat(file.c_str(), &s) != 0) return {};
  return {static_cast<long long>(s.st_ino), static_cast<long long>(s.st_size), static_cast<long long>(s.st_mtim.tv_sec),
          static_cast<long long>(s.st_mtim.tv_nsec)};
}

std::optional<std::string> PlansFeed::Changed() {
  const FileLook store = Look(path_);
  const FileLook log = Look(path_ + "-wal");
  if (store.inode < 0 || (store == store_ && log == log_)) return std::nullopt;
  StationStore station;
  Result<std::vector<ResponsePlan>> plans = std::vector<ResponsePlan>{};
  if (Result<> opened = station.Open(path_, StationStore::Mode::ReadOnly); !opened) {
    plans = opened.problem();
  } else {
    plans = station.Plans();
  }
  if (!plans) {
    reporter_.Trouble(plans.problem().text,
                      "MQTT: планы реагирования из " + path_ + " не отправлены: " + plans.problem().text + ".");
    return std::nullopt;
  }
  reporter_.Recovered("MQTT: планы реагирования из " + path_ + " снова отправляются.");
  store_ = store;
  log_ = log;
  std::string payload = PlansJson(*plans);
  if (payload == given_) return std::nullopt;
  given_ = payload;
  return payload;
}

std::string PlansJson(const std::vector<ResponsePlan>& plans) {
  using Json = nlohmann::ordered_json;
  Json all = Json::array();
  for (const ResponsePlan& p : plans) {
    Json holders = Json::array();
    for (const KeyHolder& k : p.keyHolders) holders.push_back({{"name", k.name}, {"role", k.role}, {"phones", k.phones}});
    all.push_back({{"address", p.address},
                   {"priority", p.priority},
                   {"instructions", p.instructions},
                   {"guard_group", p.guardGroup},
                   {"guard_phone", p.guardPhone},
                   {"key_holders", std::move(holders)}});
  }
  return Json{{"plans", std::move(all)}}.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace pelvaron
