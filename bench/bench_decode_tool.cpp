// pelvaron-decode over a million frames, per second. See README.md,
// "pelvaron-decode".
//
// The tool runs as a child process over a generated file of 1,000,000 frames
// (the twenty-frame mix of bench_decode, again and again), its output going
// to /dev/null: text, --protocol and --json. Beside it, in this process, the
// floor no decoder can go under: the same file read, every line parsed into
// its ten bytes, and as many bytes written to /dev/null as the tool writes
// in that format, without decoding anything.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "traffic_mix.h"

extern char** environ;

namespace {

using namespace pelvaron;

constexpr std::int64_t kFrames = 1000000;
constexpr const char* kFormats[] = {"text", "--protocol", "--json"};

// The input file, written once per run and removed at the end.
class MixFile {
 public:
  MixFile() {
    char name[] = "/tmp/pelvaron-bench-mix-XXXXXX";
    const int fd = mkstemp(name);
    path_ = name;
    const std::vector<bench::Frame> mix = bench::TrafficMix();
    std::string text;
    for (std::int64_t i = 0; i < kFrames; ++i) {
      const bench::Frame& frame = mix[static_cast<std::size_t>(i) % mix.size()];
      for (std::size_t b = 0; b < frame.size(); ++b) {
        char hex[4];
        std::snprintf(hex, sizeof hex, b + 1 < frame.size() ? "%02X " : "%02X\n", frame[b]);
        text += hex;
      }
    }
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) path_.clear();
    if (fd >= 0) ::close(fd);
  }
  ~MixFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

const MixFile& Mix() {
  static const MixFile file;
  return file;
}

// Runs the tool with its output going to `out` (a path); the exit status, or -1.
int RunTool(const char* format, const std::string& out) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {PELVARON_DECODE_PROGRAM};
  if (std::strcmp(format, "text") != 0) args.emplace_back(format);
  args.push_back(Mix().Path());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// How many bytes the tool writes for the file in a format: measured once.
std::int64_t OutputBytes(int format) {
  static std::int64_t bytes[3] = {-1, -1, -1};
  if (bytes[format] < 0) {
    const std::string out = Mix().Path() + ".out";
    struct stat st {};
    bytes[format] = RunTool(kFormats[format], out) == 0 && ::stat(out.c_str(), &st) == 0 ? st.st_size : 0;
    ::unlink(out.c_str());
  }
  return bytes[format];
}

void BM_DecodeTool(benchmark::State& state) {
  const int format = static_cast<int>(state.range(0));
  state.SetLabel(kFormats[format]);
  if (Mix().Path().empty()) {
    state.SkipWithError("cannot write the input file");
    return;
  }
  for (auto _ : state) {
    if (RunTool(kFormats[format], "/dev/null") != 0) {
      state.SkipWithError("pelvaron-decode failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_DecodeTool)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The floor: read in 1 MiB blocks, parse each line into ten bytes, write the
// tool's number of bytes in 256 KiB blocks; nothing decoded.
void BM_ReadParseWriteFloor(benchmark::State& state) {
  const int format = static_cast<int>(state.range(0));
  state.SetLabel(kFormats[format]);
  const std::int64_t outputBytes = OutputBytes(format);
  if (outputBytes <= 0) {
    state.SkipWithError("pelvaron-decode failed");
    return;
  }
  const std::int64_t perFrame = outputBytes / kFrames;
  std::vector<char> in(1u << 20);
  std::string out;
  out.reserve(320 * 1024);
  const std::string filler(static_cast<std::size_t>(perFrame + outputBytes % kFrames), 'x');
  const int devNull = ::open("/dev/null", O_WRONLY);
  std::int64_t frames = 0;
  for (auto _ : state) {
    const int fd = ::open(Mix().Path().c_str(), O_RDONLY);
    std::size_t begin = 0;
    std::size_t end = 0;
    std::int64_t written = 0;
    unsigned checksum = 0;
    for (;;) {
      if (begin > 0) {
        std::memmove(in.data(), in.data() + begin, end - begin);
        end -= begin;
        begin = 0;
      }
      const ssize_t n = ::read(fd, in.data() + end, in.size() - end);
      if (n <= 0) break;
      end += static_cast<std::size_t>(n);
      for (;;) {
        const void* nl = std::memchr(in.data() + begin, '\n', end - begin);
        if (nl == nullptr) break;
        const std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(nl) - in.data());
        std::uint8_t frame[10];
        std::size_t count = 0;
        for (std::size_t i = begin; i < stop;) {
          if (in[i] == ' ' || in[i] == '\r' || in[i] == '\t') {
            ++i;
            continue;
          }
          const int high = HexValue(in[i]);
          const int low = i + 1 < stop ? HexValue(in[i + 1]) : -1;
          if (high < 0 || low < 0 || count == 10) break;
          frame[count++] = static_cast<std::uint8_t>(high * 16 + low);
          i += 2;
        }
        checksum += count == 10 ? frame[9] : 0u;
        ++frames;
        const std::int64_t size = written + perFrame * 2 > outputBytes ? outputBytes - written : perFrame;
        out.append(filler.data(), static_cast<std::size_t>(size));
        written += size;
        if (out.size() >= 256 * 1024) {
          if (::write(devNull, out.data(), out.size()) < 0) state.SkipWithError("write failed");
          out.clear();
        }
        begin = stop + 1;
      }
    }
    if (!out.empty() && ::write(devNull, out.data(), out.size()) < 0) state.SkipWithError("write failed");
    out.clear();
    ::close(fd);
    benchmark::DoNotOptimize(checksum);
  }
  ::close(devNull);
  state.SetItemsProcessed(frames);
  state.counters["bytes_out"] = static_cast<double>(outputBytes);
}
BENCHMARK(BM_ReadParseWriteFloor)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
