#include <dlfcn.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/service_notifier.h"

namespace pelvaron {

ServiceNotifier::ServiceNotifier() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || *socket == '\0') return;
  library_ = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library_ == nullptr) {
    const char* why = dlerror();
    reachable_ = Problem{std::string("Не удаётся сообщить systemd о готовности службы: ") +
                         (why ? why : "не найдена libsystemd.so.0") +
                         ". Установите пакет libsystemd0 или запускайте программу без Type=notify."};
    return;
  }
  using Notify = decltype(&sd_notify);
  using WatchdogEnabled = decltype(&sd_watchdog_enabled);
  notify_ = reinterpret_cast<Notify>(dlsym(library_, "sd_notify"));
  auto watchdogEnabled = reinterpret_cast<WatchdogEnabled>(dlsym(library_, "sd_watchdog_enabled"));
  if (notify_ == nullptr) {
    reachable_ = Problem{
        "Не удаётся сообщить systemd о готовности службы: в libsystemd.so.0 нет sd_notify. "
        "Установите пакет libsystemd0 или запускайте программу без Type=notify."};
    return;
  }
  std::uint64_t usec = 0;
  if (watchdogEnabled != nullptr && watchdogEnabled(0, &usec) > 0 && usec > 0) {
    pingEveryMs_ = static_cast<std::int64_t>(usec / 2000);
    if (pingEveryMs_ < 1) pingEveryMs_ = 1;
  }
}

ServiceNotifier::~ServiceNotifier() {
  if (library_ != nullptr) dlclose(library_);
}

void ServiceNotifier::Send(const std::string& state) {
  if (notify_ != nullptr) notify_(0, state.c_str());
}

void ServiceNotifier::Ready(const std::string& status) {
  Send("READY=1\nSTATUS=" + status);
}

void ServiceNotifier::Tick(std::int64_t monotonicMs) {
  if (notify_ == nullptr || pingEveryMs_ == 0) return;
  if (pinged_ && monotonicMs - lastPingMs_ < pingEveryMs_) return;
  Send("WATCHDOG=1");
  pinged_ = true;
  lastPingMs_ = monotonicMs;
}

void ServiceNotifier::Stopping() {
  Send("STOPPING=1");
}

bool StderrGoesToJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long device = 0, inode = 0;
  if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat st {};
  if (fstat(STDERR_FILENO, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == device &&
         static_cast<unsigned long long>(st.st_ino) == inode;
}

}  // namespace pelvaron
