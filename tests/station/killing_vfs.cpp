#include "killing_vfs.h"

#include <signal.h>
#include <sqlite3.h>

#include <mutex>

namespace pelvaron::testing {
namespace {

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;
sqlite3_io_methods g_methods;
long g_left = -1;  // changes before the kill; -1 never

// Our file: the real one's state follows it in the same allocation.
struct File {
  sqlite3_file base;
};
sqlite3_file* Real(sqlite3_file* f) {
  return reinterpret_cast<sqlite3_file*>(reinterpret_cast<File*>(f) + 1);
}
void Change() {
  if (g_left > 0 && --g_left == 0) raise(SIGKILL);
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
  sqlite3_file* real = Real(f);
  const int rc = g_real->xOpen(g_real, name, real, flags, outFlags);
  // SQLite calls xClose only when pMethods is set.
  f->pMethods = rc == SQLITE_OK && real->pMethods != nullptr ? &g_methods : nullptr;
  return rc;
}

}  // namespace

void KillingVfs::RegisterAsDefault() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_real = sqlite3_vfs_find(nullptr);
    g_vfs = *g_real;
    g_vfs.pNext = nullptr;
    g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_real->szOsFile;
    g_vfs.zName = "pelvaron-killing";
    g_vfs.xOpen = Open;
    // The rest of the file system is the real one's (its pAppData too).
    g_methods = sqlite3_io_methods{};
    g_methods.iVersion = 3;
    g_methods.xClose = [](sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); };
    g_methods.xRead = [](sqlite3_file* f, void* p, int n, sqlite3_int64 off) {
      return Real(f)->pMethods->xRead(Real(f), p, n, off);
    };
    g_methods.xWrite = [](sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
      Change();
      return Real(f)->pMethods->xWrite(Real(f), p, n, off);
    };
    g_methods.xTruncate = [](sqlite3_file* f, sqlite3_int64 size) {
      Change();
      return Real(f)->pMethods->xTruncate(Real(f), size);
    };
    g_methods.xSync = [](sqlite3_file* f, int flags) {
      Change();
      return Real(f)->pMethods->xSync(Real(f), flags);
    };
    g_methods.xFileSize = [](sqlite3_file* f, sqlite3_int64* size) {
      return Real(f)->pMethods->xFileSize(Real(f), size);
    };
    g_methods.xLock = [](sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); };
    g_methods.xUnlock = [](sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); };
    g_methods.xCheckReservedLock = [](sqlite3_file* f, int* out) {
      return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
    };
    g_methods.xFileControl = [](sqlite3_file* f, int op, void* arg) {
      return Real(f)->pMethods->xFileControl(Real(f), op, arg);
    };
    g_methods.xSectorSize = [](sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); };
    g_methods.xDeviceCharacteristics = [](sqlite3_file* f) {
      return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
    };
    g_methods.xShmMap = [](sqlite3_file* f, int page, int size, int extend, void volatile** p) {
      return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, p);
    };
    g_methods.xShmLock = [](sqlite3_file* f, int offset, int n, int flags) {
      return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
    };
    g_methods.xShmBarrier = [](sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); };
    g_methods.xShmUnmap = [](sqlite3_file* f, int deleteFlag) {
      return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
    };
    g_methods.xFetch = [](sqlite3_file* f, sqlite3_int64 off, int amount, void** p) {
      return Real(f)->pMethods->xFetch(Real(f), off, amount, p);
    };
    g_methods.xUnfetch = [](sqlite3_file* f, sqlite3_int64 off, void* p) {
      return Real(f)->pMethods->xUnfetch(Real(f), off, p);
    };
    sqlite3_vfs_register(&g_vfs, 1);
  });
}

void KillingVfs::KillAt(long point) {
  g_left = point;
}

}  // namespace pelvaron::testing
