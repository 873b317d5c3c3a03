// pelvaron-decode: receiver frames written in hexadecimal in, the console's
// event lines (or the protocol file's bytes, or the decoded message as JSON)
// out. A field engineer's tool; it never writes a file.
//
// Decoding is the pure DecodeMessage: no object table, no protocol writer.
// The output is what the console's writers would give for the same frames:
// the header line stamped, stamped and plain lines cut to the writers'
// lengths, the protocol file's Windows-1251 with CR LF.

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/cp1251.h"
#include "core/json_writer.h"
#include "core/result.h"
#include "decode/decoded_message.h"
#include "decode/message_json.h"
#include "protocol/event_protocol.h"

namespace {

using namespace pelvaron;

constexpr char kUsage[] =
    "Usage: pelvaron-decode [--protocol | --json] [FILE]\n"
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
    "  --json      print instead one JSON object per frame, one a line (JSON\n"
    "              Lines): the decoded message's fields, its event lines as the\n"
    "              decoder gives them (without the time stamp) and \"time\", the\n"
    "              local time of decoding in ISO 8601 with the UTC offset; a frame\n"
    "              with a wrong sum gets its object too (kind \"bad-sum\")\n"
    "  --help      show this text\n"
    "  --version   show the program's version\n"
    "\n"
    "A line that is not 10 hexadecimal bytes, or a frame with a wrong sum, gets\n"
    "one message on standard error naming its line; decoding goes on with the\n"
    "next line. No file is read or written but FILE and the output.\n"
    "\n"
    "Exit status: 0 when every frame was decoded, 1 when any line was refused,\n"
    "2 when the input could not be read or the output not written, or on a usage\n"
    "error.\n";

// The console's own message for a wrong sum.
constexpr char kChecksumText[] = "Ошибка контрольной суммы!";

enum class Format { Text, Protocol, Json };

// Output gathered in one buffer and written in large pieces.
class Output {
 public:
  static constexpr std::size_t kFlushAt = 256 * 1024;

  Output() { buffer.reserve(kFlushAt + 64 * 1024); }

  std::string buffer;

  bool Failed() const { return error_ != 0; }
  int Error() const { return error_; }

  void FlushIfFull() {
    if (buffer.size() >= kFlushAt) Flush();
  }
  void Flush() {
    std::size_t done = 0;
    while (done < buffer.size() && error_ == 0) {
      const ssize_t n = ::write(STDOUT_FILENO, buffer.data() + done, buffer.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EINTR) {
        error_ = errno;
      } else if (n == 0) {
        error_ = EIO;
      }
    }
    buffer.clear();
  }

 private:
  int error_ = 0;
};

// The input read in large blocks and handed out a line at a time, as views
// into the buffer that stay valid until the next call.
class LineReader {
 public:
  // beforeWait runs before each read, which may block: a field engineer
  // typing frames sees each one decoded at once.
  LineReader(int fd, std::function<void()> beforeWait)
      : fd_(fd), buffer_(1u << 20), beforeWait_(std::move(beforeWait)) {}

  int Error() const { return error_; }

  // The next line without its '\n'; false at the end of the input or on an error.
  bool Next(std::string_view& line) {
    for (;;) {
      if (begin_ < end_) {
        const char* start = buffer_.data() + begin_;
        const void* nl = std::memchr(start, '\n', end_ - begin_);
        if (nl != nullptr) {
          const auto length = static_cast<std::size_t>(static_cast<const char*>(nl) - start);
          line = std::string_view(start, length);
          begin_ += length + 1;
          return true;
        }
        if (eof_) {
          // The last line may lack its '\n'.
          line = std::string_view(start, end_ - begin_);
          begin_ = end_;
          return true;
        }
      }
      if (eof_ || error_ != 0) return false;
      Fill();
    }
  }

 private:
  void Fill() {
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    // A line longer than the buffer makes it grow.
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    beforeWait_();
    for (;;) {
      const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
      if (n > 0) {
        end_ += static_cast<std::size_t>(n);
        return;
      }
      if (n == 0) {
        eof_ = true;
        return;
      }
      if (errno != EINTR) {
        error_ = errno;
        return;
      }
    }
  }

  int fd_;
  std::vector<char> buffer_;
  std::function<void()> beforeWait_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  int error_ = 0;
};

// The current local time, formatted once per second: the event log's stamp
// with the two spaces the stamped writer puts after it, and ISO 8601.
class Stamps {
 public:
  void Update() {
    const std::time_t now = std::time(nullptr);
    if (valid_ && now == second_) return;
    second_ = now;
    valid_ = true;
    std::tm local{};
    const bool ok = localtime_r(&now, &local) != nullptr;
    logPrefix_ = ok ? FormatStamp(local) : std::string();
    logPrefix_ += "  ";
    isoTime_.clear();
    if (ok) {
      char text[64];
      const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
      const long offset = local.tm_gmtoff / 60;
      const long absolute = offset < 0 ? -offset : offset;
      std::snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", offset < 0 ? '-' : '+', absolute / 60,
                    absolute % 60);
      isoTime_ = text;
    }
  }
  const std::string& LogPrefix() const { return logPrefix_; }
  // Empty when the local time is unknown.
  const std::string& IsoTime() const { return isoTime_; }

 private:
  std::time_t second_ = 0;
  bool valid_ = false;
  std::string logPrefix_;
  std::string isoTime_;
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

// Reads one frame, or says why the line is refused.
Result<FrameBytes> ParseFrame(std::string_view line) {
  FrameBytes frame{};
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    const int high = HexValue(line[i]);
    if (high < 0) {
      return Problem{"unexpected " + Describe(line[i]) + " at column " + std::to_string(i + 1) +
                     "; a frame is 10 bytes in hexadecimal"};
    }
    const int low = i + 1 < line.size() ? HexValue(line[i + 1]) : -1;
    if (low < 0) {
      return Problem{"a lone hexadecimal digit at column " + std::to_string(i + 1) +
                     "; write each byte as two digits"};
    }
    if (count == kFrameSize) return Problem{"more than 10 bytes; a frame is 10 bytes"};
    frame[count++] = static_cast<std::uint8_t>(high * 16 + low);
    i += 2;
  }
  if (count < kFrameSize) {
    return Problem{"only " + std::to_string(count) + (count == 1 ? " byte" : " bytes") + "; a frame is 10 bytes"};
  }
  return frame;
}

std::string SumDetail(const DecodedMessage& m) {
  char text[96];
  std::snprintf(text, sizeof text,
                "(bytes 0 to 7 add up to %u, so bytes 8 and 9 should be %02X %02X, not %02X %02X)",
                static_cast<unsigned>(m.sum), (m.sum >> 8) & 0xFFu, m.sum & 0xFFu, m.raw[8], m.raw[9]);
  return text;
}

// A line as the console's writers take it: cut to so many characters.
std::string_view Cut(std::string_view line, std::size_t max) {
  return line.size() <= max ? line : Utf8PrefixView(line, max);
}

// The event-log lines of a frame, each followed by newline.
void AppendText(std::string& out, const DecodedMessage& m, const Stamps& stamps, std::string_view newline) {
  for (std::size_t i = 0; i < m.lines.size(); ++i) {
    if (m.IsStamped(i)) {
      out += stamps.LogPrefix();
      out += Cut(m.lines[i], kMaxStampedText);
    } else {
      out += Cut(m.lines[i], kMaxPlainText);
    }
    out += newline;
  }
}

// The protocol file's bytes: the same lines ending in CR LF, converted in one
// piece per frame (CR LF and the stamp are the same in both encodings).
void AppendProtocol(std::string& out, const DecodedMessage& m, const Stamps& stamps, std::string& scratch) {
  scratch.clear();
  AppendText(scratch, m, stamps, "\r\n");
  AppendUtf8AsCp1251Lossy(out, scratch);
}

void AppendJson(std::string& out, const DecodedMessage& m, const Stamps& stamps) {
  JsonWriter json(out);
  json.BeginObject();
  json.Key("time");
  if (stamps.IsoTime().empty()) {
    json.Null();
  } else {
    json.String(stamps.IsoTime());
  }
  WriteMessageMembers(json, m);
  json.EndObject();
  out += '\n';
}

struct Options {
  Format format = Format::Text;
  std::string path;
  bool havePath = false;
};

// Returns -1 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options& options) {
  bool optionsDone = false;
  bool formatGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!optionsDone && arg == "--version") {
      std::printf("pelvaron-decode %s\n", PELVARON_VERSION);
      return 0;
    }
    if (!optionsDone && (arg == "--help" || arg == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!optionsDone && (arg == "--protocol" || arg == "--json")) {
      const Format format = arg == "--json" ? Format::Json : Format::Protocol;
      if (formatGiven && format != options.format) {
        std::fprintf(stderr, "pelvaron-decode: --protocol and --json do not go together (try --help)\n");
        return 2;
      }
      options.format = format;
      formatGiven = true;
    } else if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "pelvaron-decode: unknown option %s (try --help)\n", argv[i]);
      return 2;
    } else if (options.havePath) {
      std::fprintf(stderr, "pelvaron-decode: one input file at most (try --help)\n");
      return 2;
    } else {
      options.path = arg;
      options.havePath = true;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int status = ParseOptions(argc, argv, options); status >= 0) return status;

  int fd = STDIN_FILENO;
  std::string inputName = "standard input";
  if (options.havePath && options.path != "-") {
    fd = ::open(options.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "pelvaron-decode: cannot open %s: %s\n", options.path.c_str(), std::strerror(errno));
      return 2;
    }
    inputName = options.path;
  }

  Output output;
  LineReader input(fd, [&output] {
    if (!output.Failed()) output.Flush();
  });
  Stamps stamps;
  DecodedMessage message;
  std::string scratch;
  int refused = 0;
  long lineNumber = 0;
  std::string_view text;

  // Standard output first, so that a message follows the lines before it.
  auto refuse = [&](const std::string& why) {
    ++refused;
    output.Flush();
    std::fprintf(stderr, "%s, line %ld: %s\n", inputName.c_str(), lineNumber, why.c_str());
  };

  while (!output.Failed() && input.Next(text)) {
    ++lineNumber;
    if (lineNumber == 1 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::size_t first = 0;
    while (first < text.size() && IsBlank(text[first])) ++first;
    if (first == text.size() || text[first] == '#') continue;

    const Result<FrameBytes> frame = ParseFrame(text);
    if (!frame) {
      refuse(frame.problem().text);
      continue;
    }
    DecodeMessage(frame->data(), message);
    if (options.format == Format::Json || message.sumOk) stamps.Update();
    switch (options.format) {
      case Format::Text:
        AppendText(output.buffer, message, stamps, "\n");
        break;
      case Format::Protocol:
        AppendProtocol(output.buffer, message, stamps, scratch);
        break;
      case Format::Json:
        AppendJson(output.buffer, message, stamps);
        break;
    }
    if (!message.sumOk) refuse(std::string(kChecksumText) + " " + SumDetail(message));
    output.FlushIfFull();
  }
  if (!output.Failed()) output.Flush();

  if (input.Error() != 0) {
    std::fprintf(stderr, "pelvaron-decode: reading %s failed after line %ld\n", inputName.c_str(), lineNumber);
    return 2;
  }
  if (output.Failed()) {
    std::fprintf(stderr, "pelvaron-decode: cannot write the output: %s\n", std::strerror(output.Error()));
    return 2;
  }
  return refused != 0 ? 1 : 0;
}
