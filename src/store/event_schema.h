#pragma once

struct sqlite3;

namespace pelvaron {

// 2: an acknowledgement's row keeps the key of the alarm it ended, so that it
// covers every event of that alarm, its repeats too.
inline constexpr int kSchemaVersion = 2;

// The events' alarm column: AlarmRole's alarm (1) and restore (2), and an
// acknowledgement (3): the queue's history is every row with a role.
inline constexpr int kAcknowledgementRole = 3;

// UpgradeSchema's answer for a store of a newer program: no code of SQLite's.
inline constexpr int kNewerSchema = -1;

// Makes the store's tables and indexes, or brings those of an earlier
// version up to this one, in one transaction. SQLITE_OK, SQLite's code (with
// nothing changed), or kNewerSchema; version: what the store had.
int UpgradeSchema(sqlite3* db, int& version);

}  // namespace pelvaron
