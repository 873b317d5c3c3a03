// pelvaron-decode: receiver frames written in hexadecimal in, the console's
// event lines out. A field engineer's tool; it never writes a file.

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/apply_message.h"
#include "objects/object_registry.h"
#include "platform/system_clock.h"
#include "protocol/event_protocol.h"
#include "protocol/settings.h"

namespace {

using namespace pelvaron;

constexpr char kUsage[] =
    "Usage: pelvaron-decode [--protocol] [FILE]\n"
    "\n"
    "Decodes receiver frames into the event lines the console writes for them.\n"
    "\n"
    "Frames are read one per line from FILE, or from standard input when FILE is\n"
    "missing or \"-\" (write -- before a FILE whose name begins with -). A frame\n"
    "is 10 bytes in hexadecimal, two digits a byte, with spaces between bytes\n"
    "optional: \"12 34 1F 01 13 00 01 00 00 7A\" and \"12341F0113000100007A\" are\n"
    "the same frame. Bytes 8 and 9 are the sum of bytes 0 to 7, high byte first.\n"
    "Empty lines and lines beginning with # are skipped.\n"
    "\n"
    "For each frame the lines of the console's event log are printed in UTF-8,\n"
    "one per line; the header line carries the current local time.\n"
    "\n"
    "Options:\n"
    "  --protocol  print instead the exact bytes the protocol file would receive:\n"
    "              the same lines in Windows-1251, each ending in CR LF\n"
    "  --help      show this text\n"
    "\n"
    "A line that is not 10 hexadecimal bytes, or a frame with a wrong sum, gets\n"
    "one message on standard error naming its line; decoding goes on with the\n"
    "next line. Loop-state messages work on an object table kept in memory, which\n"
    "starts empty: no file is read or written.\n"
    "\n"
    "Exit status: 0 when every frame was decoded, 1 when any line was refused,\n"
    "2 when the input could not be read or the output not written, or on a usage\n"
    "error.\n";

// The object table lives in memory only: nothing is read, and a save keeps nothing.
class NoFiles : public FileSystem {
 public:
  int ReadPrefix(const std::string&, std::size_t, std::vector<std::uint8_t>& out) override {
    out.clear();
    return ENOENT;
  }
  int ReplaceFile(const std::string&, std::span<const std::uint8_t>) override { return 0; }
  int Append(const std::string&, std::span<const std::uint8_t>) override { return 0; }
  bool Exists(const std::string&) override { return false; }
};

// The protocol file is standard output.
class StdoutProtocolFile : public NoFiles {
 public:
  int Append(const std::string&, std::span<const std::uint8_t> data) override {
    if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size()) return errno ? errno : EIO;
    return 0;
  }
};

// Prints the event log as it grows and keeps the operator's messages until
// the frame's line is known to go with them.
class ToolOperator : public Operator {
 public:
  explicit ToolOperator(bool printLog) : printLog_(printLog) {}

  void ShowMessage(const OperatorMessage& message) override { messages.push_back(message.text); }
  void LogLineAdded(const std::string& line) override {
    if (!printLog_) return;
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }

  std::vector<std::string> messages;

 private:
  bool printLog_;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string Describe(char c) {
  if (c > ' ' && c < 0x7F) return std::string("'") + c + "'";
  char text[16];
  std::snprintf(text, sizeof text, "byte 0x%02X", static_cast<unsigned char>(c));
  return text;
}

// Reads one frame; returns an empty text on success, else why the line is refused.
std::string ParseFrame(std::string_view line, std::array<std::uint8_t, kFrameSize>& frame) {
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    int high = HexValue(line[i]);
    if (high < 0) {
      return "unexpected " + Describe(line[i]) + " at column " + std::to_string(i + 1) +
             "; a frame is 10 bytes in hexadecimal";
    }
    int low = i + 1 < line.size() ? HexValue(line[i + 1]) : -1;
    if (low < 0) {
      return "a lone hexadecimal digit at column " + std::to_string(i + 1) +
             "; write each byte as two digits";
    }
    if (count == kFrameSize) return "more than 10 bytes; a frame is 10 bytes";
    frame[count++] = static_cast<std::uint8_t>(high * 16 + low);
    i += 2;
  }
  if (count < kFrameSize) {
    return "only " + std::to_string(count) + (count == 1 ? " byte" : " bytes") + "; a frame is 10 bytes";
  }
  return {};
}

std::string SumDetail(const std::array<std::uint8_t, kFrameSize>& frame) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < 8; ++i) sum += frame[i];
  char text[96];
  std::snprintf(text, sizeof text,
                "(bytes 0 to 7 add up to %u, so bytes 8 and 9 should be %02X %02X, not %02X %02X)", sum,
                (sum >> 8) & 0xFFu, sum & 0xFFu, frame[8], frame[9]);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  bool protocolBytes = false;
  bool optionsDone = false;
  std::string path;
  bool havePath = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!optionsDone && (arg == "--help" || arg == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!optionsDone && arg == "--protocol") {
      protocolBytes = true;
    } else if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "pelvaron-decode: unknown option %s (try --help)\n", argv[i]);
      return 2;
    } else if (havePath) {
      std::fprintf(stderr, "pelvaron-decode: one input file at most (try --help)\n");
      return 2;
    } else {
      path = arg;
      havePath = true;
    }
  }

  std::ifstream file;
  std::istream* input = &std::cin;
  std::string inputName = "standard input";
  if (havePath && path != "-") {
    file.open(path, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "pelvaron-decode: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
      return 2;
    }
    input = &file;
    inputName = path;
  }

  SystemClock clock;
  NoFiles noFiles;
  StdoutProtocolFile stdoutFile;
  ToolOperator op(!protocolBytes);
  ConsoleSettings settings = ConsoleSettings::Defaults();
  settings.bSaveProtocol = protocolBytes ? 1 : 0;
  EventProtocol protocol(settings, clock, stdoutFile, op);
  ObjectRegistry objects(noFiles, op);

  int refused = 0;
  long lineNumber = 0;
  std::string line;
  while (std::getline(*input, line)) {
    ++lineNumber;
    std::string_view text = line;
    if (lineNumber == 1 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::size_t first = 0;
    while (first < text.size() && IsBlank(text[first])) ++first;
    if (first == text.size() || text[first] == '#') continue;

    const std::string where = inputName + ", line " + std::to_string(lineNumber) + ": ";
    std::array<std::uint8_t, kFrameSize> frame{};
    std::string error = ParseFrame(text, frame);
    if (!error.empty()) {
      std::fprintf(stderr, "%s%s\n", where.c_str(), error.c_str());
      ++refused;
      continue;
    }

    op.messages.clear();
    int result = DecodeFrame(frame.data(), protocol, op, objects);
    if (result != 0) ++refused;
    for (const std::string& message : op.messages) {
      if (result != 0) {
        std::fprintf(stderr, "%s%s %s\n", where.c_str(), message.c_str(), SumDetail(frame).c_str());
      } else {
        std::fprintf(stderr, "%s%s\n", where.c_str(), message.c_str());
      }
    }
    if (std::ferror(stdout)) break;
  }

  if (input->bad()) {
    std::fprintf(stderr, "pelvaron-decode: reading %s failed after line %ld\n", inputName.c_str(),
                 lineNumber);
    return 2;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "pelvaron-decode: cannot write the output: %s\n", std::strerror(errno));
    return 2;
  }
  return refused != 0 ? 1 : 0;
}
