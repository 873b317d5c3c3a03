// Every input kept for the fuzz targets, their seeds and the reproducers of
// past findings, run through the targets' own code as an ordinary test: the
// targets are compiled here with the normal compiler and without libFuzzer
// (PELVARON_FUZZ_REPLAY), and a broken check fails the input it came from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

// Each target's entry point, renamed at compile time (tests/CMakeLists.txt).
extern "C" int fuzz_frame_TestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int fuzz_frame_json_TestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int fuzz_decode_parts_TestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int fuzz_objects_TestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int fuzz_settings_TestOneInput(const std::uint8_t* data, std::size_t size);

namespace pelvaron {
namespace {

namespace fs = std::filesystem;

struct Target {
  const char* name;
  int (*run)(const std::uint8_t*, std::size_t);
};

constexpr Target kTargets[] = {
    {"fuzz_frame", fuzz_frame_TestOneInput},
    {"fuzz_frame_json", fuzz_frame_json_TestOneInput},
    {"fuzz_decode_parts", fuzz_decode_parts_TestOneInput},
    {"fuzz_objects", fuzz_objects_TestOneInput},
    {"fuzz_settings", fuzz_settings_TestOneInput},
};

const fs::path kFuzzDir = PELVARON_FUZZ_DIR;

std::vector<fs::path> Inputs(const std::string& target) {
  std::vector<fs::path> files;
  for (const char* folder : {"seeds", "regressions"}) {
    const fs::path dir = kFuzzDir / folder / target;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

void Replay(const Target& target) {
  const std::vector<fs::path> files = Inputs(target.name);
  EXPECT_FALSE(files.empty()) << "no seeds for " << target.name;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // On the heap and exactly as long as the file, as libFuzzer hands it over.
    auto data = std::make_unique<std::uint8_t[]>(bytes.empty() ? 1 : bytes.size());
    std::copy(bytes.begin(), bytes.end(), data.get());
    try {
      EXPECT_EQ(target.run(data.get(), bytes.size()), 0) << file;
    } catch (const std::exception& e) {
      ADD_FAILURE() << file << ": " << e.what();
    }
  }
}

TEST(FuzzReplay, Frame) {
  Replay(kTargets[0]);
}
TEST(FuzzReplay, FrameJson) {
  Replay(kTargets[1]);
}
TEST(FuzzReplay, DecodeParts) {
  Replay(kTargets[2]);
}
TEST(FuzzReplay, Objects) {
  Replay(kTargets[3]);
}
TEST(FuzzReplay, Settings) {
  Replay(kTargets[4]);
}

// A folder of inputs for a target this test does not know would never be replayed.
TEST(FuzzReplay, EveryFolderOfInputsHasItsTarget) {
  std::set<std::string> known;
  for (const Target& target : kTargets) known.insert(target.name);
  for (const char* folder : {"seeds", "regressions"}) {
    for (const auto& entry : fs::directory_iterator(kFuzzDir / folder)) {
      if (entry.is_directory()) {
        EXPECT_TRUE(known.count(entry.path().filename().string())) << entry.path();
      }
    }
  }
}

}  // namespace
}  // namespace pelvaron
