// pelvaron-decode as a field engineer runs it: the sample frames in, the
// console's event lines, the protocol file's bytes or JSON Lines out. The
// text and protocol outputs are compared byte for byte with the tool's output
// before it moved onto the pure decoder (tests/e2e/data), time stamps masked.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "support/strict_json.h"

namespace pelvaron::testing {
namespace {

#if defined(PELVARON_DECODE_PROGRAM) && defined(PELVARON_SOURCE_DIR)

namespace fs = std::filesystem;

// Stands for the 21 characters of a time stamp, "%d:%m:%Y, %H:%M:%S ".
const std::string kStamp = "dd:mm:YYYY, HH:MM:SS ";

struct ToolRun {
  std::string out;
  std::string err;
  int status = -1;  // the exit status, -1 when the tool did not exit normally
};

ToolRun Decode(const std::vector<std::string>& args, const std::string& dir = PELVARON_SOURCE_DIR) {
  std::vector<std::string> argv = {PELVARON_DECODE_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string error;
  auto child = ChildProcess::Start(argv, dir, &error);
  ToolRun run;
  if (!child) {
    ADD_FAILURE() << error;
    return run;
  }
  if (!PumpUntil({child.get()}, [&] { return child->Exited(); }, SecondsFromNow(60))) {
    ADD_FAILURE() << "pelvaron-decode did not end: " << child->StatusText();
    return run;
  }
  run.out = child->Out();
  run.err = child->Err();
  const int status = *child->ExitStatus();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Golden(const std::string& name) {
  return ReadFile(fs::path(PELVARON_SOURCE_DIR) / "tests/e2e/data" / name);
}

bool IsStampAt(const std::string& text, std::size_t at) {
  static const std::string kShape = "00:00:0000, 00:00:00 ";
  if (at + kShape.size() > text.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const char c = text[at + i];
    if (kShape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(c)) : c != kShape[i]) return false;
  }
  return true;
}

// Every stamp at the start of a line replaced by kStamp; *count says how many.
std::string MaskStamps(std::string text, int* count = nullptr) {
  int n = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (IsStampAt(text, at)) {
      text.replace(at, kStamp.size(), kStamp);
      ++n;
    }
    const std::size_t next = text.find('\n', at);
    if (next == std::string::npos) break;
    at = next + 1;
  }
  if (count != nullptr) *count = n;
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The frames of samples/frames.txt, one hex text each, in order.
std::vector<std::string> SampleFrames() {
  std::vector<std::string> frames;
  for (const std::string& line : SplitLines(ReadFile(fs::path(PELVARON_SOURCE_DIR) / "samples/frames.txt"))) {
    if (!line.empty() && line[0] != '#') frames.push_back(line);
  }
  return frames;
}

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/pelvaron-decode-test-XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream(fs::path(path_) / name, std::ios::binary) << content;
    return (fs::path(path_) / name).string();
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(DecodeTool, TextAndProtocolOutputStayByteForByteAsTheyWere) {
  const int samples = static_cast<int>(SampleFrames().size());
  const int goodFrames = samples - 1;  // the last sample has a wrong sum

  const ToolRun text = Decode({"samples/frames.txt"});
  EXPECT_EQ(text.status, 1);  // the frame with a wrong sum is refused
  int stamps = 0;
  EXPECT_EQ(MaskStamps(text.out, &stamps), Golden("frames.text"));
  EXPECT_EQ(stamps, goodFrames);  // every header stamped, the first one too
  EXPECT_EQ(text.err, Golden("frames.stderr"));

  const ToolRun protocol = Decode({"--protocol", "samples/frames.txt"});
  EXPECT_EQ(protocol.status, 1);
  EXPECT_EQ(MaskStamps(protocol.out, &stamps), Golden("frames.protocol"));
  EXPECT_EQ(stamps, goodFrames);
  EXPECT_EQ(protocol.err, Golden("frames.stderr"));
}

// Each object carries the frame and the very lines the text output prints
// for it; stamping the marked line gives the text output back.
TEST(DecodeTool, JsonLinesCarryEveryFrameAndItsLines) {
  const ToolRun json = Decode({"--json", "samples/frames.txt"});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.err, Golden("frames.stderr"));

  const std::vector<std::string> frames = SampleFrames();
  const std::vector<std::string> objects = SplitLines(json.out);
  ASSERT_EQ(objects.size(), frames.size());
  std::string relinked;
  std::map<std::string, int> kinds;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    SCOPED_TRACE(frames[i]);
    std::string error;
    const auto object = ParseJson(objects[i], &error);
    ASSERT_TRUE(object) << error;
    EXPECT_EQ(object->begin().key(), "time");
    const std::string time = object->at("time");
    // ISO 8601 with the offset: 2026-12-07T10:35:21+03:00
    ASSERT_EQ(time.size(), 25u) << time;
    EXPECT_TRUE(time[10] == 'T' && (time[19] == '+' || time[19] == '-') && time[22] == ':') << time;
    EXPECT_EQ(object->at("raw"), frames[i]);
    const std::string kind = object->at("kind");
    ++kinds[kind];

    const Json& lines = object->at("lines");
    const Json& stamped = object->at("stamped_line");
    if (kind == "bad-sum") {
      EXPECT_TRUE(lines.empty());
      EXPECT_TRUE(stamped.is_null());
      continue;
    }
    for (std::size_t n = 0; n < lines.size(); ++n) {
      relinked += stamped.is_number_integer() && stamped == n ? kStamp + "  " : "";
      relinked += lines[n].get<std::string>() + "\n";
    }
  }
  EXPECT_EQ(relinked, Golden("frames.text"));
  const std::map<std::string, int> expectedKinds = {{"contact-id", 11}, {"loop-state", 10}, {"dialler", 7},
                                                    {"radio", 14},      {"unknown-unit", 1}, {"bad-sum", 1}};
  EXPECT_EQ(kinds, expectedKinds);
}

TEST(DecodeTool, RefusesWhatIsNotAFrameAndGoesOn) {
  TempDir dir;
  const std::string good = "12 34 1F 01 13 00 01 00 00 7A";
  const std::string input = "\xEF\xBB\xBF" + good + "\r\n" +  // 1: a byte-order mark and CR LF
                            "# a comment\n"                     // 2
                            "\t \n"                             // 3: blanks only
                            "12 34 G1\n"                        // 4
                            "12 34\n"                           // 5
                            "1\n"                               // 6
                            "12341F0113000100007A00\n"          // 7
                            "\xD0\xAF\n"                        // 8: not ASCII
                            "\x01\n"                            // 9
                            "12341f0113000100007a";             // 10: no newline at the end
  dir.Write("in.txt", input);

  const ToolRun run = Decode({"in.txt"}, dir.Path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "in.txt, line 4: unexpected 'G' at column 7; a frame is 10 bytes in hexadecimal\n"
            "in.txt, line 5: only 2 bytes; a frame is 10 bytes\n"
            "in.txt, line 6: a lone hexadecimal digit at column 1; write each byte as two digits\n"
            "in.txt, line 7: more than 10 bytes; a frame is 10 bytes\n"
            "in.txt, line 8: unexpected byte 0xD0 at column 1; a frame is 10 bytes in hexadecimal\n"
            "in.txt, line 9: unexpected byte 0x01 at column 1; a frame is 10 bytes in hexadecimal\n");
  // Lines 1 and 10 are the same frame.
  const std::vector<std::string> lines = SplitLines(MaskStamps(run.out));
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 9),
            std::vector<std::string>(lines.begin() + 9, lines.end()));
  EXPECT_EQ(lines[1], kStamp + "  Сообщение : ");
}

// Lines longer than the tool's read buffer and lines across its boundaries.
TEST(DecodeTool, ReadsLongLinesAndLongFilesWhole) {
  TempDir dir;
  const std::string frame = "12 34 1F 01 13 00 01 00 00 7A\n";
  std::string input = std::string(3 << 20, ' ') + frame;
  for (int i = 0; i < 60000; ++i) input += frame;
  dir.Write("long.txt", input);

  const ToolRun text = Decode({"long.txt"}, dir.Path());
  EXPECT_EQ(text.status, 0) << text.err.substr(0, 200);
  EXPECT_EQ(text.err, "");
  // The first frame's nine lines, 60001 times.
  std::size_t firstEnd = 0;
  for (int i = 0; i < 9; ++i) firstEnd = text.out.find('\n', firstEnd) + 1;
  const std::string one = MaskStamps(text.out.substr(0, firstEnd));
  EXPECT_EQ(one.find("Сообщение"), 1 + 1 + kStamp.size() + 2);
  std::string expected;
  for (int i = 0; i < 60001; ++i) expected += one;
  EXPECT_EQ(MaskStamps(text.out), expected);

  const ToolRun json = Decode({"--json", "long.txt"}, dir.Path());
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(SplitLines(json.out).size(), 60001u);
}

TEST(DecodeTool, CommandLine) {
  const ToolRun help = Decode({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--json"), std::string::npos);
  EXPECT_NE(help.out.find("--protocol"), std::string::npos);

  const ToolRun empty = Decode({"-"});  // standard input is empty here
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");

  const ToolRun both = Decode({"--protocol", "--json", "samples/frames.txt"});
  EXPECT_EQ(both.status, 2);
  EXPECT_EQ(both.out, "");
  EXPECT_EQ(Decode({"--frames"}).status, 2);
  EXPECT_EQ(Decode({"samples/frames.txt", "samples/frames.txt"}).status, 2);

  const ToolRun missing = Decode({"no-such-file.txt"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "pelvaron-decode: cannot open no-such-file.txt: No such file or directory\n");
  const ToolRun folder = Decode({"samples"});
  EXPECT_EQ(folder.status, 2);
  EXPECT_EQ(folder.err, "pelvaron-decode: reading samples failed after line 0\n");
}

#else

TEST(DecodeTool, NotBuilt) {
  GTEST_SKIP() << "pelvaron-decode is not part of this build";
}

#endif

}  // namespace
}  // namespace pelvaron::testing
