#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/create_file.h"
#include "platform/alarm_player.h"

extern char** environ;

namespace pelvaron {
namespace {

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(static_cast<std::uint8_t>(x & 0xFF));
  v.push_back(static_cast<std::uint8_t>((x >> 8) & 0xFF));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}
void PutText(std::vector<std::uint8_t>& v, const char* text) {
  for (; *text != '\0'; ++text) v.push_back(static_cast<std::uint8_t>(*text));
}

// A 16-bit mono WAV of the four speaker tones.
std::vector<std::uint8_t> ToneWave() {
  constexpr int kRate = 22050;
  constexpr int kFrequencies[] = {1000, 1500, 1000, 1500};
  std::vector<std::int16_t> samples;
  for (int f : kFrequencies) {
    for (int i = 0; i < kRate * 3 / 10; ++i) {
      samples.push_back(static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * f * i / kRate)));
    }
  }
  std::vector<std::uint8_t> wav;
  const std::uint32_t dataSize = static_cast<std::uint32_t>(samples.size() * 2);
  PutText(wav, "RIFF");
  Put32(wav, 36 + dataSize);
  PutText(wav, "WAVEfmt ");
  Put32(wav, 16);
  Put16(wav, 1);
  Put16(wav, 1);
  Put32(wav, kRate);
  Put32(wav, kRate * 2);
  Put16(wav, 2);
  Put16(wav, 16);
  PutText(wav, "data");
  Put32(wav, dataSize);
  for (std::int16_t s : samples) Put16(wav, static_cast<std::uint16_t>(s));
  return wav;
}

// The first line the player wrote on its error output, if any.
std::string FirstLine(int fd) {
  char buffer[512];
  const ssize_t n = fd >= 0 ? read(fd, buffer, sizeof buffer) : -1;
  if (n <= 0) return {};
  std::string text(buffer, static_cast<std::size_t>(n));
  text = text.substr(0, text.find('\n'));
  // Only printable ASCII: it goes into the operator's messages as it is.
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
  }
  return text;
}

}  // namespace

AlarmPlayer::AlarmPlayer(std::string program) : program_(std::move(program)) {}

AlarmPlayer::~AlarmPlayer() {
  if (child_ > 0) waitpid(child_, nullptr, 0);
  if (!tones_.empty()) unlink(tones_.c_str());
}

Result<bool> AlarmPlayer::Playing() {
  if (child_ <= 0) return false;
  int status = 0;
  const pid_t r = waitpid(child_, &status, WNOHANG);
  if (r == 0) return true;
  child_ = -1;
  Result<bool> ended = false;
  if (r > 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    // The player's own words go in the parentheses, after its status.
    const std::string said = FirstLine(errors_.get());
    ended = Problem{"проигрыватель " + program_ + " не смог воспроизвести звук (" +
                    (WIFEXITED(status) ? "код " + std::to_string(WEXITSTATUS(status))
                                       : "сигнал " + std::to_string(WTERMSIG(status))) +
                    (said.empty() ? std::string() : ": " + said) + ")"};
  }
  errors_.reset();
  return ended;
}

Result<> AlarmPlayer::Spawn(const std::string& path) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    const int err = errno;
    return SystemProblem("не удалось запустить проигрыватель звука", err);
  }
  UniqueFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 2);
  // The player gets the signals as any program does: not the console's
  // blocked shutdown signals, nor its ignored SIGPIPE.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const char* argv[] = {program_.c_str(), "-q", path.c_str(), nullptr};
  pid_t pid = -1;
  const int err = posix_spawnp(&pid, program_.c_str(), &actions, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return SystemProblem("нет проигрывателя звука " + program_ + " (пакет alsa-utils)", err);
  child_ = pid;
  errors_ = std::move(readEnd);
  return {};
}

Result<std::string> AlarmPlayer::TonesFile() {
  if (!tones_.empty()) return tones_;
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  // A file of its own, made new (never one that someone else laid out there).
  std::string pattern;
  UniqueFd fd;
  int refused = 0;
  for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
    pattern = dir + "/pelvaron-alarm-tones-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".wav";
    Result<UniqueFd> made = CreateFile(pattern, O_WRONLY, WhenThere::Refuse, FileMode::Private);
    if (made) fd = std::move(*made);
    if (!made) refused = made.problem().code;
    if (!made && refused != EEXIST) break;
  }
  if (!fd) return SystemProblem("не удалось подготовить звук тревоги в " + dir, refused);
  const std::vector<std::uint8_t> wav = ToneWave();
  std::size_t done = 0;
  while (done < wav.size()) {
    const ssize_t n = write(fd.get(), wav.data() + done, wav.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done != wav.size() || fd.reset() != 0) {
    const int err = errno;
    unlink(pattern.c_str());
    return SystemProblem("не удалось записать звук тревоги в " + pattern, err);
  }
  tones_ = pattern;
  return tones_;
}

Result<> AlarmPlayer::Start(bool playFile, bool beep) {
  // A burst still playing is not started again.
  if (const Result<bool> playing = Playing(); playing && *playing) return {};
  std::string path;
  if (playFile) {
    if (access("alarm.wav", R_OK) != 0) {
      return Problem{"файла alarm.wav нет в рабочей папке или он не читается", "", errno};
    }
    path = "alarm.wav";
  } else if (beep) {
    Result<std::string> tones = TonesFile();
    if (!tones) return tones.problem();
    path = std::move(*tones);
  }
  if (path.empty()) return {};
  return Spawn(path);
}

}  // namespace pelvaron
