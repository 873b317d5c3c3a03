#pragma once

struct sqlite3;

namespace pelvaron {

inline constexpr char kStationStoreFileName[] = "station.sqlite";

// 1: plans with their key holders, operators, report thresholds.
inline constexpr int kStationSchemaVersion = 1;
// PRAGMA application_id of a station's store ("PVst"): a file of another
// program, events.sqlite given by mistake, is never taken for one.
inline constexpr int kStationApplicationId = 0x50567374;

// What a file holds, as far as opening it goes.
enum class StationFileState {
  Ours,     // a station store of this version
  Empty,    // a new file: no tables yet
  Newer,    // a station store of a later version
  Foreign,  // a database of something else
};

// Reads the file's marks into state and version (the file's user_version):
// SQLite's code.
int InspectStationFile(sqlite3* db, StationFileState& state, int& version);
// Makes the tables of an empty file, with the thresholds' defaults, in one
// transaction; a file that is no longer empty by then is left as it is:
// SQLite's code.
int CreateStationSchema(sqlite3* db);

}  // namespace pelvaron
