// The real file system's promises: an append is whole or not there (injected
// short writes, the process's file size limit, a full tmpfs), and a replaced
// file keeps its identity (links followed, mode and owner kept, read-only
// files refused, other hard links kept).
#include "platform/real_file_system.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pelvaron {
namespace {

namespace fs = std::filesystem;

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

struct stat Stat(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

// The disk takes `room` more bytes, then is full; the owner cannot be changed
// when told so.
class SeamFileSystem : public RealFileSystem {
 public:
  long room = -1;
  bool ownerFixed = false;

 protected:
  std::ptrdiff_t WriteChunk(int fd, const std::uint8_t* data, std::size_t size) override {
    if (room >= 0) {
      if (room == 0) {
        errno = ENOSPC;
        return -1;
      }
      size = std::min<std::size_t>(size, static_cast<std::size_t>(room));
    }
    std::ptrdiff_t n = RealFileSystem::WriteChunk(fd, data, size);
    if (n > 0 && room >= 0) room -= n;
    return n;
  }
  int ChangeOwner(int fd, unsigned uid, unsigned gid) override {
    return ownerFixed ? EPERM : RealFileSystem::ChangeOwner(fd, uid, gid);
  }
};

class RealFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/pelvaron-files-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
  }
  void TearDown() override {
    if (mounted) umount2(mounted->c_str(), MNT_DETACH);
    fs::remove_all(dir);
  }

  fs::path dir;
  std::optional<fs::path> mounted;
  SeamFileSystem files;
};

const std::string kLine = "06:12:2026, 08:47:42   Включение программы\r\n";

TEST_F(RealFileSystemTest, AShortWriteIsCutBackSoTheFileHasOnlyWholeLines) {
  const fs::path protocol = dir / "protocol.txt";
  Write(protocol, kLine);
  for (long room : {0L, 1L, 10L, static_cast<long>(2 * kLine.size() - 1)}) {
    SCOPED_TRACE(room);
    files.room = room;
    EXPECT_EQ(files.Append(protocol.string(), Bytes(kLine + kLine)), ENOSPC);
    EXPECT_EQ(Read(protocol), kLine);
  }
  files.room = -1;
  EXPECT_EQ(files.Append(protocol.string(), Bytes(kLine)), 0);
  EXPECT_EQ(Read(protocol), kLine + kLine);
}

TEST_F(RealFileSystemTest, TheKernelsShortWriteAtTheFileSizeLimitIsCutBackToo) {
  const fs::path protocol = dir / "protocol.txt";
  Write(protocol, kLine);
  pid_t pid = fork();
  if (pid == 0) {
    // The limit leaves room for part of the next line: write(2) takes that
    // part, and the write after it fails.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(kLine.size() + 7), static_cast<rlim_t>(kLine.size() + 7)};
    setrlimit(RLIMIT_FSIZE, &limit);
    RealFileSystem real;
    _exit(real.Append(protocol.string(), Bytes(kLine)) == EFBIG ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_EQ(Read(protocol), kLine);
}

TEST_F(RealFileSystemTest, OnAFullFileSystemTheLastLineIsLostWholeNotTorn) {
  const fs::path small = dir / "small";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0) {
    GTEST_SKIP() << "no tmpfs to fill (mount: " << std::strerror(errno)
                 << "); the short writes above stand in";
  }
  mounted = small;
  const fs::path protocol = small / "protocol.txt";
  RealFileSystem real;
  ASSERT_EQ(real.Append(protocol.string(), Bytes(kLine)), 0);
  {
    // Everything else is taken, so the file may only grow inside its last page.
    std::ofstream filler(small / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  int err = 0;
  int appended = 1;
  while ((err = real.Append(protocol.string(), Bytes(kLine))) == 0) ++appended;
  EXPECT_EQ(err, ENOSPC);
  const std::string text = Read(protocol);
  EXPECT_EQ(text.size(), appended * kLine.size()) << "a torn line at the end";
  EXPECT_GT(appended, 2);
}

TEST_F(RealFileSystemTest, AReadOnlyProtocolFileIsNotAppendedTo) {
  const fs::path protocol = dir / "protocol.txt";
  Write(protocol, kLine);
  chmod(protocol.c_str(), 0444);
  EXPECT_EQ(files.Append(protocol.string(), Bytes(kLine)), EACCES);
  EXPECT_EQ(Read(protocol), kLine);
}

TEST_F(RealFileSystemTest, ALinkIsFollowedAndStaysALink) {
  fs::create_directory(dir / "real");
  Write(dir / "real" / "objects.stt", "old");
  fs::create_symlink("real/objects.stt", dir / "objects.stt");
  fs::create_symlink("real/settings.ini", dir / "pelvaron.ini");  // dangling: made through the link
  EXPECT_EQ(files.ReplaceFile((dir / "objects.stt").string(), Bytes("new")), 0);
  EXPECT_EQ(files.ReplaceFile((dir / "pelvaron.ini").string(), Bytes("settings")), 0);
  EXPECT_TRUE(fs::is_symlink(dir / "objects.stt"));
  EXPECT_TRUE(fs::is_symlink(dir / "pelvaron.ini"));
  EXPECT_EQ(Read(dir / "real" / "objects.stt"), "new");
  EXPECT_EQ(Read(dir / "real" / "settings.ini"), "settings");
  EXPECT_FALSE(fs::exists(dir / "real" / "objects.stt.new"));
  EXPECT_FALSE(fs::exists(dir / "objects.stt.new"));
}

TEST_F(RealFileSystemTest, ModeAndOwnerAreKept) {
  const fs::path file = dir / "objects.stt";
  Write(file, "old");
  chmod(file.c_str(), 0640);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
  }
  const ino_t before = Stat(file).st_ino;
  ASSERT_EQ(files.ReplaceFile(file.string(), Bytes("new")), 0);
  const struct stat after = Stat(file);
  EXPECT_EQ(Read(file), "new");
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_NE(after.st_ino, before) << "replaced whole, not written over";
  if (root) {
    EXPECT_EQ(after.st_uid, 65534u);
    EXPECT_EQ(after.st_gid, 65534u);
  }
}

TEST_F(RealFileSystemTest, AReadOnlyFileIsRefusedNotMadeWritable) {
  const fs::path file = dir / "objects.stt";
  Write(file, "old");
  chmod(file.c_str(), 0444);
  EXPECT_EQ(files.ReplaceFile(file.string(), Bytes("new")), EACCES) << "also for root";
  EXPECT_EQ(Read(file), "old");
  EXPECT_EQ(Stat(file).st_mode & 07777, 0444u);
  EXPECT_FALSE(fs::exists(dir / "objects.stt.new"));
}

TEST_F(RealFileSystemTest, WhereTheFileCannotBeReplacedAsItIsItIsWrittenOver) {
  // Another name for the same file keeps seeing it.
  const fs::path file = dir / "objects.stt";
  Write(file, "old content");
  fs::create_hard_link(file, dir / "backup.stt");
  ASSERT_EQ(files.ReplaceFile(file.string(), Bytes("new")), 0);
  EXPECT_EQ(Read(dir / "backup.stt"), "new");

  // An owner that cannot be given to a new file.
  const fs::path other = dir / "pelvaron.ini";
  Write(other, "old content");
  if (geteuid() == 0) {
    ASSERT_EQ(chown(other.c_str(), 65534, 65534), 0);
  }
  const struct stat before = Stat(other);
  files.ownerFixed = true;
  ASSERT_EQ(files.ReplaceFile(other.string(), Bytes("new")), 0);
  const struct stat after = Stat(other);
  EXPECT_EQ(Read(other), "new");
  EXPECT_EQ(after.st_uid, before.st_uid);
  if (geteuid() == 0) {
    EXPECT_EQ(after.st_ino, before.st_ino);
  }
  EXPECT_FALSE(fs::exists(dir / "pelvaron.ini.new"));
}

TEST_F(RealFileSystemTest, WhatAnInterruptedSaveLeftIsRemovedBesideTheRealFile) {
  fs::create_directory(dir / "real");
  Write(dir / "real" / "objects.stt", "current");
  Write(dir / "real" / "objects.stt.new", "half a save");
  fs::create_symlink("real/objects.stt", dir / "objects.stt");
  fs::create_directory(dir / "pelvaron.ini.new");  // not ours to remove
  files.RemoveInterruptedSave((dir / "objects.stt").string());
  files.RemoveInterruptedSave((dir / "pelvaron.ini").string());
  EXPECT_FALSE(fs::exists(dir / "real" / "objects.stt.new"));
  EXPECT_EQ(Read(dir / "real" / "objects.stt"), "current");
  EXPECT_TRUE(fs::is_directory(dir / "pelvaron.ini.new"));
}

}  // namespace
}  // namespace pelvaron
