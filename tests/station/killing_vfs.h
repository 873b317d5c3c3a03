#pragma once

namespace pelvaron::testing {

// SQLite's file system over the real one, made the default: a process that
// is told to dies by SIGKILL just before its Nth write, sync or truncate of
// a database file, as a station's computer dies at any moment. Until told,
// it only passes everything on.
struct KillingVfs {
  static void RegisterAsDefault();
  // From now on in this process: SIGKILL before the point-th change (1 the first).
  static void KillAt(long point);
};

}  // namespace pelvaron::testing
