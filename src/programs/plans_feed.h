#pragma once

#include <optional>
#include <string>
#include <vector>

#include "outputs/report.h"
#include "station/station_data.h"

namespace pelvaron {

// The station's response plans as the broker shows them
// (pelvaron/<station>/plans, docs/events.md): read from station.sqlite when
// its files changed since the last look. Runs on the broker's thread; a
// store that cannot be read is told once and looked at again later.
class PlansFeed {
 public:
  PlansFeed(std::string path, Report report);

  // The payload when the plans differ from those given last; nothing when
  // they do not, or when there is no station store.
  std::optional<std::string> Changed();

 private:
  struct FileLook {
    long long inode = -1, size = 0, seconds = 0, nanoseconds = 0;
    bool operator==(const FileLook&) const = default;
  };
  FileLook Look(const std::string& file) const;

  const std::string path_;
  CauseReporter reporter_;
  FileLook store_, log_;  // as last read
  std::optional<std::string> given_;
};

// {"plans":[...]}: each plan with the fields of the plans' CSV.
std::string PlansJson(const std::vector<ResponsePlan>& plans);

}  // namespace pelvaron
