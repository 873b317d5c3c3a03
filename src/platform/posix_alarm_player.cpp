#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/alarm_player.h"

extern char** environ;

namespace pelvaron {
namespace {

constexpr char kPlayer[] = "aplay";

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(static_cast<std::uint8_t>(x & 0xFF));
  v.push_back(static_cast<std::uint8_t>((x >> 8) & 0xFF));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
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
  for (char c : std::string("RIFF")) wav.push_back(static_cast<std::uint8_t>(c));
  Put32(wav, 36 + dataSize);
  for (char c : std::string("WAVEfmt ")) wav.push_back(static_cast<std::uint8_t>(c));
  Put32(wav, 16);
  Put16(wav, 1);
  Put16(wav, 1);
  Put32(wav, kRate);
  Put32(wav, kRate * 2);
  Put16(wav, 2);
  Put16(wav, 16);
  for (char c : std::string("data")) wav.push_back(static_cast<std::uint8_t>(c));
  Put32(wav, dataSize);
  for (std::int16_t s : samples) Put16(wav, static_cast<std::uint16_t>(s));
  return wav;
}

}  // namespace

AlarmPlayer::~AlarmPlayer() {
  if (child_ > 0) waitpid(child_, nullptr, 0);
  if (!tones_.empty()) unlink(tones_.c_str());
}

bool AlarmPlayer::Busy(std::string& problem) {
  if (child_ <= 0) return false;
  int status = 0;
  pid_t r = waitpid(child_, &status, WNOHANG);
  if (r == 0) return true;
  child_ = -1;
  if (r > 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    problem =
        "Звуковой сигнал тревоги не удалось воспроизвести (нет звукового устройства?); "
        "до конца работы программы он отключён.";
  }
  return false;
}

std::string AlarmPlayer::Start(const std::string& path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
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
  const char* argv[] = {kPlayer, "-q", path.c_str(), nullptr};
  pid_t pid = -1;
  int err = posix_spawnp(&pid, kPlayer, &actions, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0)
    return "Не удалось запустить проигрыватель звука \"aplay\" (пакет alsa-utils); "
           "звуковой сигнал тревоги отключён.";
  child_ = pid;
  return {};
}

std::string AlarmPlayer::TonesFile() {
  if (!tones_.empty()) return tones_;
  std::string path = "/tmp/pelvaron-alarm-tones-" + std::to_string(getpid()) + ".wav";
  std::vector<std::uint8_t> wav = ToneWave();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return {};
  bool ok = std::fwrite(wav.data(), 1, wav.size(), f) == wav.size();
  ok = std::fclose(f) == 0 && ok;
  if (ok) tones_ = path;
  return tones_;
}

std::string AlarmPlayer::Play(bool playFile, bool beep) {
  if (disabled_) return {};
  std::string problem;
  if (Busy(problem)) return {};
  if (problem.empty()) {
    std::string path;
    if (playFile) {
      if (access("alarm.wav", R_OK) == 0) {
        path = "alarm.wav";
      } else {
        problem = "Файла alarm.wav нет в рабочей папке или он не читается; звуковой сигнал тревоги отключён.";
      }
    }
    if (problem.empty() && path.empty() && beep) {
      path = TonesFile();
      if (path.empty()) problem = "Не удалось подготовить звуковой сигнал тревоги в /tmp; он отключён.";
    }
    if (problem.empty() && !path.empty()) problem = Start(path);
  }
  if (!problem.empty()) disabled_ = true;
  return problem;
}

}  // namespace pelvaron
