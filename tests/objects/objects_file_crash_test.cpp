// Saving the objects file through the real file system, interrupted at every
// step and after any number of bytes: the file is always the old image or the new one.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/fixed_text.h"
#include "objects/object_registry.h"
#include "platform/real_file_system.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::RecordingOperator;

constexpr int kCompleted = 3;  // the child's exit status when the save was not interrupted

// Dies (or fails with a full disk) where the test says.
class InterruptedFileSystem : public RealFileSystem {
 public:
  using Step = ReplaceStep;
  long dieAfterBytes = -1;
  std::optional<Step> dieAfterStep;
  long diskFullAfterBytes = -1;

 protected:
  std::ptrdiff_t WriteChunk(int fd, const std::uint8_t* data, std::size_t size) override {
    long limit = dieAfterBytes >= 0 ? dieAfterBytes : diskFullAfterBytes;
    if (limit >= 0) {
      if (written_ >= limit) {
        if (dieAfterBytes >= 0) _exit(0);
        errno = ENOSPC;
        return -1;
      }
      size = std::min<std::size_t>(size, static_cast<std::size_t>(limit - written_));
    }
    std::ptrdiff_t n = RealFileSystem::WriteChunk(fd, data, size);
    if (n > 0) written_ += n;
    return n;
  }
  void AfterReplaceStep(ReplaceStep step) override {
    if (step == dieAfterStep) _exit(0);
  }

 private:
  long written_ = 0;
};

using Step = InterruptedFileSystem::Step;

struct ObjectsFileCrash : ::testing::Test {
  std::filesystem::path dir;
  std::vector<std::uint8_t> oldImage, newImage;

  void SetUp() override {
    char name[] = "/tmp/pelvaron-objects-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
    RecordingOperator op;
    RealFileSystem fs;
    ObjectRegistry reg(fs, op);
    reg.InitObjects();  // a blank table, as image
    oldImage = Image(reg.Table());
    FillEverySlot(reg.Table());
    newImage = Image(reg.Table());
    ASSERT_EQ(fs.ReplaceFile(File(), oldImage), 0);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string File() const { return (dir / kObjectsFileName).string(); }
  static std::vector<std::uint8_t> Image(const ObjectTable& t) {
    auto p = reinterpret_cast<const std::uint8_t*>(t.data());
    return {p, p + sizeof t};
  }
  // Differs from the blank table in every 4 KiB of the image.
  static void FillEverySlot(ObjectTable& t) {
    for (int s = 1; s <= kLastObjectSlot; ++s) {
      WriteFixedText(t[s].szAddress, std::to_string(1000 + s));
      t[s].bUsed = 1;
      t[s].nPeriod = s;
      WriteFixedText(t[s].szComment, std::string(100, static_cast<char>('A' + s % 26)));
    }
  }
  std::vector<std::uint8_t> OnDisk() {
    RealFileSystem fs;
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(fs.ReadPrefix(File(), 1 << 20, bytes), 0);
    return bytes;
  }

  // Saves the new table in a child that dies as told; returns the child's exit status.
  int SaveInChild(long dieAfterBytes, std::optional<Step> dieAfterStep = std::nullopt) {
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(1);
      RecordingOperator op;
      InterruptedFileSystem fs;
      fs.dieAfterBytes = dieAfterBytes;
      fs.dieAfterStep = dieAfterStep;
      ObjectRegistry reg(fs, op);
      std::memcpy(reg.Table().data(), newImage.data(), newImage.size());
      _exit(reg.SaveObject() == 0 ? kCompleted : 2);
    }
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    return WEXITSTATUS(status);
  }
};

TEST_F(ObjectsFileCrash, DeathWhileWritingLeavesTheOldFile) {
  std::vector<long> cuts = {0, 1, 335, 336, 33935};
  for (long n = 4096; n < 33936; n += 4096) cuts.push_back(n);
  for (long n : cuts) {
    SCOPED_TRACE(n);
    EXPECT_EQ(SaveInChild(n), 0);
    EXPECT_EQ(OnDisk(), oldImage);
  }
}

TEST_F(ObjectsFileCrash, DeathAfterEachStepLeavesOldBeforeTheRenameAndNewAfter) {
  const struct {
    Step step;
    bool renamed;
  } steps[] = {{Step::TempOpened, false}, {Step::Written, false}, {Step::Synced, false},
               {Step::Closed, false},     {Step::Renamed, true},  {Step::DirectorySynced, true}};
  for (const auto& s : steps) {
    SCOPED_TRACE(static_cast<int>(s.step));
    ASSERT_EQ(RealFileSystem().ReplaceFile(File(), oldImage), 0);
    EXPECT_EQ(SaveInChild(-1, s.step), 0);
    EXPECT_EQ(OnDisk(), s.renamed ? newImage : oldImage);
  }
  // An unbroken save after all that (a stale temporary file lies beside) writes the new image.
  ASSERT_EQ(RealFileSystem().ReplaceFile(File(), oldImage), 0);
  EXPECT_EQ(SaveInChild(-1, Step::Written), 0);
  ASSERT_TRUE(std::filesystem::exists(dir / "objects.stt.new"));
  EXPECT_EQ(SaveInChild(-1), kCompleted);
  EXPECT_EQ(OnDisk(), newImage);
}

TEST_F(ObjectsFileCrash, AFullDiskKeepsTheOldFileAndSaysSo) {
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  InterruptedFileSystem fs;
  fs.diskFullAfterBytes = 20000;
  RecordingOperator op;
  ObjectRegistry reg(fs, op);
  std::memcpy(reg.Table().data(), newImage.data(), newImage.size());
  int result = reg.SaveObject();
  std::filesystem::current_path(cwd);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(OnDisk(), oldImage);
  EXPECT_FALSE(std::filesystem::exists(dir / "objects.stt.new"));
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text,
            std::to_string(ENOSPC) + " : System error(debugging info).\n in: SaveObject();");
}

}  // namespace
}  // namespace pelvaron
