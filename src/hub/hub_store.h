#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "hub/hub_event.h"

namespace pelvaron {

// A number skipped in a station's run: events after_seq + 1 .. before_seq - 1
// never came.
struct SeqGap {
  std::string station;
  std::int64_t afterSeq = 0;
  std::int64_t beforeSeq = 0;
  std::int64_t seenAt = 0;  // calendar seconds
  bool operator==(const SeqGap&) const = default;
};

// The one store of every console's events, keyed by (station, seq): a repeat
// is kept once. SQLite in the hub's folder, or a PostgreSQL database that
// several hubs share. Used from one thread.
class HubStore {
 public:
  virtual ~HubStore() = default;

  // Stores the events and the gaps in one transaction; an event already there
  // is left as it is. On failure nothing of them is stored. Returns how many
  // events were new.
  virtual Result<std::size_t> Write(const std::vector<HubEvent>& events, const std::vector<SeqGap>& gaps) = 0;
  // The highest seq stored for each station.
  virtual Result<std::map<std::string, std::int64_t>> LastSeqs() = 0;
  // One object's events in [from, to) calendar seconds, by time.
  virtual Result<std::vector<HubEvent>> ObjectEvents(const std::string& station, const std::string& address,
                                                     std::int64_t from, std::int64_t to) = 0;
  virtual Result<std::vector<SeqGap>> Gaps() = 0;
  // A gap of a station no longer open: the console sent it again, or had
  // never numbered it (seenAt is not compared).
  virtual Result<> CloseGap(const SeqGap& gap) = 0;
  // The seqs stored of one station, in order.
  virtual Result<std::vector<std::int64_t>> Seqs(const std::string& station) = 0;
  // Where it is, for messages: a file's path or the database's host and name.
  virtual std::string Where() const = 0;
};

inline constexpr char kHubStoreFileName[] = "hub.sqlite";

// A "postgresql://" or "postgres://" URL opens the database; anything else
// is an SQLite file's path. Creates the tables where they are missing.
Result<std::unique_ptr<HubStore>> OpenHubStore(const std::string& where);

bool IsPostgresUrl(const std::string& where);

}  // namespace pelvaron
