#include <malloc.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstring>

#include "platform/memory_trim.h"

namespace pelvaron {

void ReleaseStartupMemory() {
  malloc_trim(0);
#ifdef MADV_PAGEOUT
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  if (maps == nullptr) return;
  char line[512];
  while (std::fgets(line, sizeof line, maps) != nullptr) {
    unsigned long start = 0;
    unsigned long end = 0;
    char perms[8] = {};
    // Only mappings of files that are not written: their pages are clean.
    if (std::sscanf(line, "%lx-%lx %7s", &start, &end, perms) != 3) continue;
    if (perms[0] != 'r' || perms[1] == 'w' || std::strchr(line, '/') == nullptr) continue;
    madvise(reinterpret_cast<void*>(start), end - start, MADV_PAGEOUT);
  }
  std::fclose(maps);
#endif
}

}  // namespace pelvaron
