#pragma once

struct sqlite3;

namespace pelvaron {

// 2: an acknowledgement's row keeps the key of the alarm it ended, so that it
// covers every event of that alarm, its repeats too.
// 3: every event and acknowledgement request keeps its operator; actions on
// an alarm and its close have roles of their own.
inline constexpr int kSchemaVersion = 3;

// The events' alarm column: AlarmRole's alarm (1) and restore (2), an
// acknowledgement (3), an action on an alarm (4) and its close (5): the
// queue's history is every row with a role. 3 to 5 name their alarm by ref
// and keep its key.
inline constexpr int kAcknowledgementRole = 3;
inline constexpr int kActionRole = 4;
inline constexpr int kCloseRole = 5;

// The events that begin or end a state (the link or the line down, an object
// overdue, an operator at work, the console off): a report finds the state
// at its start among them without reading the whole store. A query must say
// it in these very words for SQLite to take the index made with them.
inline constexpr char kStateEventsWhere[] =
    "kind IN ('console-stopped','link-lost','link-restored','line-fault','line-restored','object-overdue',"
    "'object-back-in-control','operator-signed-in','operator-signed-out')";

// UpgradeSchema's answer for a store of a newer program: no code of SQLite's.
inline constexpr int kNewerSchema = -1;

// Makes the store's tables and indexes, or brings those of an earlier
// version up to this one, in one transaction. SQLITE_OK, SQLite's code (with
// nothing changed), or kNewerSchema; version: what the store had.
int UpgradeSchema(sqlite3* db, int& version);

}  // namespace pelvaron
