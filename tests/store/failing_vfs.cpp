#include "failing_vfs.h"

#include <sqlite3.h>

#include <mutex>

namespace pelvaron::testing {

std::atomic<bool> FailingVfs::full{false};
std::atomic<int> FailingVfs::failedWrites{0};

namespace {

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;
sqlite3_io_methods g_methods;

// Our file: the real one's state follows it in the same allocation.
struct File {
  sqlite3_file base;
};

sqlite3_file* Real(sqlite3_file* f) {
  return reinterpret_cast<sqlite3_file*>(reinterpret_cast<File*>(f) + 1);
}

int Close(sqlite3_file* f) {
  return Real(f)->pMethods->xClose(Real(f));
}
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 off) {
  return Real(f)->pMethods->xRead(Real(f), p, n, off);
}
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
  if (FailingVfs::full) {
    ++FailingVfs::failedWrites;
    return SQLITE_FULL;
  }
  return Real(f)->pMethods->xWrite(Real(f), p, n, off);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
  return Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
  return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int level) {
  return Real(f)->pMethods->xLock(Real(f), level);
}
int Unlock(sqlite3_file* f, int level) {
  return Real(f)->pMethods->xUnlock(Real(f), level);
}
int CheckReservedLock(sqlite3_file* f, int* out) {
  return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) {
  return Real(f)->pMethods->xSectorSize(Real(f));
}
int DeviceCharacteristics(sqlite3_file* f) {
  return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** p) {
  return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, p);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) {
  Real(f)->pMethods->xShmBarrier(Real(f));
}
int ShmUnmap(sqlite3_file* f, int deleteFlag) {
  return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
}
int Fetch(sqlite3_file* f, sqlite3_int64 off, int amount, void** p) {
  return Real(f)->pMethods->xFetch(Real(f), off, amount, p);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 off, void* p) {
  return Real(f)->pMethods->xUnfetch(Real(f), off, p);
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
  sqlite3_file* real = Real(f);
  int rc = g_real->xOpen(g_real, name, real, flags, outFlags);
  // SQLite calls xClose only when pMethods is set.
  f->pMethods = rc == SQLITE_OK && real->pMethods ? &g_methods : nullptr;
  if (rc == SQLITE_OK && real->pMethods) g_methods.iVersion = real->pMethods->iVersion;
  return rc;
}
int Delete(sqlite3_vfs*, const char* name, int syncDir) {
  return g_real->xDelete(g_real, name, syncDir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_real->xAccess(g_real, name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return g_real->xFullPathname(g_real, name, n, out);
}
int Randomness(sqlite3_vfs*, int n, char* out) {
  return g_real->xRandomness(g_real, n, out);
}
int Sleep(sqlite3_vfs*, int us) {
  return g_real->xSleep(g_real, us);
}
int CurrentTime(sqlite3_vfs*, double* out) {
  return g_real->xCurrentTime(g_real, out);
}
int GetLastError(sqlite3_vfs*, int n, char* out) {
  return g_real->xGetLastError(g_real, n, out);
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
  return g_real->xCurrentTimeInt64(g_real, out);
}

}  // namespace

void FailingVfs::Register() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_real = sqlite3_vfs_find(nullptr);
    g_vfs = sqlite3_vfs{};
    g_vfs.iVersion = 2;
    g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_real->szOsFile;
    g_vfs.mxPathname = g_real->mxPathname;
    g_vfs.zName = kName;
    g_vfs.xOpen = Open;
    g_vfs.xDelete = Delete;
    g_vfs.xAccess = Access;
    g_vfs.xFullPathname = FullPathname;
    g_vfs.xRandomness = Randomness;
    g_vfs.xSleep = Sleep;
    g_vfs.xCurrentTime = CurrentTime;
    g_vfs.xGetLastError = GetLastError;
    g_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    g_methods = sqlite3_io_methods{};
    g_methods.iVersion = 3;
    g_methods.xClose = Close;
    g_methods.xRead = Read;
    g_methods.xWrite = Write;
    g_methods.xTruncate = Truncate;
    g_methods.xSync = Sync;
    g_methods.xFileSize = FileSize;
    g_methods.xLock = Lock;
    g_methods.xUnlock = Unlock;
    g_methods.xCheckReservedLock = CheckReservedLock;
    g_methods.xFileControl = FileControl;
    g_methods.xSectorSize = SectorSize;
    g_methods.xDeviceCharacteristics = DeviceCharacteristics;
    g_methods.xShmMap = ShmMap;
    g_methods.xShmLock = ShmLock;
    g_methods.xShmBarrier = ShmBarrier;
    g_methods.xShmUnmap = ShmUnmap;
    g_methods.xFetch = Fetch;
    g_methods.xUnfetch = Unfetch;
    sqlite3_vfs_register(&g_vfs, 0);
  });
}

}  // namespace pelvaron::testing
