// The one way the programs make files, under umask 000: no file is writable
// by others, none is made or opened through a link planted at its path, and
// none is inherited by the commands the console runs.
#include "core/create_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace pelvaron {
namespace {

namespace fs = std::filesystem;

TEST(CreateFileTest, UnderUmask000FilesAreOnlyTheOwnersToWriteAndPlantedLinksAreNotFollowed) {
  char name[] = "/tmp/pelvaron-create-XXXXXX";
  ASSERT_NE(::mkdtemp(name), nullptr);
  const fs::path dir = name;
  std::ofstream(dir / "target") << "kept\n";

  enum class At { Nothing, DanglingLink, LinkToFile };
  const struct {
    const char* what;
    WhenThere there;
    FileMode mode;
    At at;
    int error;  // 0: opens
    mode_t made;
  } cases[] = {
      {"new shared", WhenThere::Open, FileMode::Shared, At::Nothing, 0, 0644},
      {"new private", WhenThere::Refuse, FileMode::Private, At::Nothing, 0, 0600},
      {"new through links", WhenThere::OpenThroughLinks, FileMode::Shared, At::Nothing, 0, 0644},
      {"dangling, open", WhenThere::Open, FileMode::Shared, At::DanglingLink, ELOOP, 0},
      {"dangling, new only", WhenThere::Refuse, FileMode::Shared, At::DanglingLink, EEXIST, 0},
      {"dangling, through links", WhenThere::OpenThroughLinks, FileMode::Shared, At::DanglingLink, ELOOP, 0},
      {"link to a file, open", WhenThere::Open, FileMode::Shared, At::LinkToFile, ELOOP, 0},
      {"link to a file, through links", WhenThere::OpenThroughLinks, FileMode::Shared, At::LinkToFile, 0, 0644},
  };
  const mode_t before = ::umask(0);
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = dir / ("file" + std::to_string(++n));
    const fs::path victim = dir / ("victim" + std::to_string(n));
    if (c.at == At::DanglingLink) fs::create_symlink(victim, path);
    if (c.at == At::LinkToFile) fs::create_symlink(dir / "target", path);
    const Result<UniqueFd> fd = CreateFile(path, O_WRONLY | O_APPEND, c.there, c.mode);
    if (c.error != 0) {
      ASSERT_FALSE(fd);
      EXPECT_EQ(fd.problem().code, c.error);
    } else {
      ASSERT_TRUE(fd) << fd.problem().Told();
      struct stat st {};
      ASSERT_EQ(::fstat(fd->get(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, c.made);
      EXPECT_NE(::fcntl(fd->get(), F_GETFD) & FD_CLOEXEC, 0);
    }
    EXPECT_FALSE(fs::exists(victim));
  }
  ::umask(before);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pelvaron
