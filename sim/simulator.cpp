#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace pelvaron::sim {

namespace {

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string SystemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Raw 19200 8N1 without flow control or echo.
bool MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

Simulator::Simulator(SimulatorOptions options)
    : options_(std::move(options)), model_(options_.byteTimeUs), noise_(options_.seed ^ 0x5A5A5A5Aull) {
  if (options_.random) traffic_.emplace(options_.seed);
  if (options_.onTrace) model_.trace = options_.onTrace;
}

std::unique_ptr<Simulator> Simulator::OnNewPty(SimulatorOptions options, std::string* error) {
  std::string local;
  if (!error) error = &local;
  std::unique_ptr<Simulator> sim(new Simulator(std::move(options)));
  sim->onPty_ = true;
  sim->wakeFd_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!sim->wakeFd_) {
    *error = SystemError("eventfd");
    return nullptr;
  }
  if (!sim->OpenPty(error) || !sim->UpdateLink(error)) return nullptr;
  return sim;
}

std::unique_ptr<Simulator> Simulator::OnDevice(const std::string& path, SimulatorOptions options,
                                               std::string* error) {
  std::string local;
  if (!error) error = &local;
  std::unique_ptr<Simulator> sim(new Simulator(std::move(options)));
  sim->onPty_ = false;
  sim->devicePath_ = path;
  sim->wakeFd_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!sim->wakeFd_) {
    *error = SystemError("eventfd");
    return nullptr;
  }
  if (!sim->OpenDevice(error)) return nullptr;
  return sim;
}

Simulator::~Simulator() {
  Stop();
  CloseDevice();
  // The link goes with the simulator, if it still points at our device.
  if (!options_.linkPath.empty()) {
    char target[PATH_MAX];
    ssize_t n = readlink(options_.linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == devicePath_)
      unlink(options_.linkPath.c_str());
  }
}

bool Simulator::OpenPty(std::string* error) {
  int master = -1, slave = -1;
  char name[PATH_MAX];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    *error = SystemError("cannot make a pseudo-terminal");
    return false;
  }
  UniqueFd masterFd(master), slaveFd(slave);
  // The console sees a raw line from the start: no echo that would come back
  // to us as requests, no line editing.
  if (!MakeRaw(slave) || !MakeRaw(master)) {
    *error = SystemError("cannot set the pseudo-terminal raw");
    return false;
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  fd_ = std::move(masterFd);
  ptySlave_ = std::move(slaveFd);
  devicePath_ = name;
  return true;
}

bool Simulator::OpenDevice(std::string* error) {
  UniqueFd fd(open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    *error = SystemError("cannot open " + devicePath_);
    return false;
  }
  if (ioctl(fd.get(), TIOCEXCL) != 0 || !MakeRaw(fd.get())) {
    *error = SystemError(devicePath_ + " is not a usable serial device");
    return false;
  }
  tcflush(fd.get(), TCIOFLUSH);
  fd_ = std::move(fd);
  return true;
}

void Simulator::CloseDevice() {
  fd_.reset();
  ptySlave_.reset();
}

bool Simulator::UpdateLink(std::string* error) {
  if (options_.linkPath.empty()) return true;
  struct stat st {};
  if (lstat(options_.linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    *error = "--link " + options_.linkPath + ": exists and is not a symbolic link; not replacing it";
    return false;
  }
  // Made beside and renamed over, so the link is never missing.
  std::string temp = options_.linkPath + ".new";
  unlink(temp.c_str());
  if (symlink(devicePath_.c_str(), temp.c_str()) != 0 ||
      rename(temp.c_str(), options_.linkPath.c_str()) != 0) {
    *error = SystemError("--link " + options_.linkPath);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

std::string Simulator::DevicePath() const {
  std::lock_guard lock(mutex_);
  return devicePath_;
}

void Simulator::Start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable() || stop_) return;
  thread_ = std::thread([this] { Run(); });
}

void Simulator::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  Wake();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool Simulator::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void Simulator::Wake() {
  if (!wakeFd_) return;
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wakeFd_.get(), &one, sizeof one);
}

bool Simulator::Enqueue(const Frame& frame) {
  bool ok;
  {
    std::lock_guard lock(mutex_);
    ok = model_.Enqueue(frame);
  }
  return ok;
}

void Simulator::Apply(const Step& step) {
  std::vector<std::string> notes;
  {
    std::lock_guard lock(mutex_);
    ApplyLocked(step, NowUs(), notes);
  }
  Wake();
}

bool Simulator::Apply(const std::string& line, std::string* error) {
  auto step = ParseStep(line, error);
  if (!step) return false;
  Apply(*step);
  return true;
}

std::array<std::uint8_t, 5> Simulator::Parameters() const {
  std::lock_guard lock(mutex_);
  return model_.Parameters();
}

std::size_t Simulator::QueueSize() const {
  std::lock_guard lock(mutex_);
  return model_.QueueSize();
}

std::uint8_t Simulator::StatusByte() const {
  std::lock_guard lock(mutex_);
  return model_.StatusByte();
}

std::vector<std::string> Simulator::Requests() const {
  std::lock_guard lock(mutex_);
  return model_.Requests();
}

bool Simulator::WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return requestsChanged_.wait_for(lock, timeout, [&] { return model_.Requests().size() >= n; });
}

void Simulator::ApplyLocked(const Step& step, std::int64_t nowUs, std::vector<std::string>& notes) {
  switch (step.op) {
    case Step::Op::Wait:
    case Step::Op::Loop:
      break;
    case Step::Op::Status:
      model_.SetStatusBits(step.statusMask, step.statusValues);
      break;
    case Step::Op::StatusByte:
      model_.SetStatusOverride(step.statusByte);
      break;
    case Step::Op::Message:
      if (!model_.Enqueue(step.frame)) notes.push_back("queue full, message dropped");
      break;
    case Step::Op::Params:
      model_.SetParameters(step.params);
      break;
    case Step::Op::Silence:
      model_.SilenceUntil(nowUs + step.ms * 1000);
      break;
    case Step::Op::AddFault:
      model_.AddFault(step.fault);
      break;
    case Step::Op::PartialStore:
      model_.SetPartialStore(step.keep, step.count);
      break;
    case Step::Op::NoFaults:
      model_.ClearFaults();
      break;
    case Step::Op::Noise: {
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(step.count));
      for (auto& b : bytes) b = static_cast<std::uint8_t>(noise_.Between(0, 255));
      model_.Emit(bytes, nowUs);
      break;
    }
    case Step::Op::ClearQueue:
      model_.ClearQueue();
      break;
    case Step::Op::Vanish:
      // On a pty the master goes: the console's end reads nothing and its
      // writes fail until it opens the new pty. The link goes too, as a
      // USB adapter's device node does: the old pty's number is free for any
      // other program's pty, which the console must not open by the link.
      // On a real port our end just closes, which the console sees as silence.
      CloseDevice();
      if (onPty_ && !options_.linkPath.empty()) {
        struct stat st {};
        if (lstat(options_.linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(options_.linkPath.c_str());
      }
      model_.DropPending();
      vanishedUntilUs_ = nowUs + step.ms * 1000;
      notes.push_back("device gone");
      break;
    case Step::Op::Exit:
      finished_ = true;
      stop_ = true;
      break;
  }
}

void Simulator::Run() {
  std::int64_t start = NowUs();
  std::size_t pc = 0;
  std::int64_t scenarioAtUs = start;
  const auto& steps = options_.scenario.steps;
  bool scenarioDone = steps.empty();
  std::optional<RandomTraffic::Event> pendingTraffic;
  std::int64_t trafficAtUs = start;
  std::vector<std::uint8_t> readBuffer(512);

  for (;;) {
    std::vector<std::string> notes;
    std::string newPath;
    bool exitNow = false;
    std::optional<std::int64_t> wakeAtUs;
    int fd;
    {
      std::unique_lock lock(mutex_);
      if (stop_) {
        exitNow = finished_;
        if (!exitNow) break;
      }
      std::int64_t now = NowUs();
      while (!exitNow && !scenarioDone && scenarioAtUs <= now) {
        const Step& s = steps[pc++];
        if (s.op == Step::Op::Wait) {
          scenarioAtUs += s.ms * 1000;  // from when it was due, so waits do not drift
        } else if (s.op == Step::Op::Loop) {
          pc = 0;
        } else {
          ApplyLocked(s, now, notes);
          if (s.op == Step::Op::Exit) exitNow = true;
        }
        if (pc >= steps.size()) scenarioDone = true;
      }
      if (traffic_ && !exitNow) {
        if (!pendingTraffic) {
          pendingTraffic = traffic_->Next();
          trafficAtUs = now + pendingTraffic->afterMs * 1000;
        }
        while (trafficAtUs <= now) {
          if (pendingTraffic->frame) model_.Enqueue(*pendingTraffic->frame);
          if (pendingTraffic->statusMask)
            model_.SetStatusBits(pendingTraffic->statusMask, pendingTraffic->statusValues);
          if (pendingTraffic->fault) model_.AddFault(*pendingTraffic->fault);
          pendingTraffic = traffic_->Next();
          trafficAtUs += pendingTraffic->afterMs * 1000;
        }
      }
      if (vanishedUntilUs_ && *vanishedUntilUs_ <= now) {
        std::string error;
        bool back = onPty_ ? (OpenPty(&error) && UpdateLink(&error)) : OpenDevice(&error);
        if (back) {
          vanishedUntilUs_.reset();
          notes.push_back("device back: " + devicePath_);
          if (onPty_) newPath = devicePath_;
        } else {
          notes.push_back(error + "; trying again in a second");
          vanishedUntilUs_ = now + 1000000;
        }
      }
      model_.Expire(now);
      auto due = model_.TakeDue(now);
      if (!due.empty() && fd_) {
        // Nobody reading: the bytes are lost, as on a real line.
        [[maybe_unused]] ssize_t n = write(fd_.get(), due.data(), due.size());
      }
      auto consider = [&](std::int64_t t) { wakeAtUs = wakeAtUs ? std::min(*wakeAtUs, t) : t; };
      if (auto d = model_.NextDueUs()) consider(*d);
      if (!scenarioDone) consider(scenarioAtUs);
      if (traffic_) consider(trafficAtUs);
      if (vanishedUntilUs_) consider(*vanishedUntilUs_);
      fd = fd_.get();
    }
    for (const auto& note : notes) {
      if (options_.onTrace) options_.onTrace(note);
    }
    if (!newPath.empty() && options_.onDevicePath) options_.onDevicePath(newPath);
    if (exitNow) {
      if (options_.onExit) options_.onExit();
      break;
    }

    pollfd fds[2] = {{wakeFd_.get(), POLLIN, 0}, {fd, POLLIN, 0}};
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (wakeAtUs) {
      std::int64_t left = std::max<std::int64_t>(0, *wakeAtUs - NowUs());
      timeout.tv_sec = static_cast<time_t>(left / 1000000);
      timeout.tv_nsec = static_cast<long>((left % 1000000) * 1000);
      timeoutPtr = &timeout;
    }
    int ready = ppoll(fds, fd >= 0 ? 2 : 1, timeoutPtr, nullptr);
    if (ready <= 0) continue;
    if (fds[0].revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t n = read(wakeFd_.get(), &count, sizeof count);
    }
    if (fd >= 0 && fds[1].revents) {
      std::lock_guard lock(mutex_);
      // A "vanish" from another thread may have closed it meanwhile.
      if (fd_.get() != fd) continue;
      ssize_t n = read(fd, readBuffer.data(), readBuffer.size());
      if (n > 0) {
        model_.Feed(readBuffer.data(), static_cast<std::size_t>(n), NowUs());
        requestsChanged_.notify_all();
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // The device failed under us: treat it as gone for a second rather
        // than spinning on it.
        CloseDevice();
        model_.DropPending();
        vanishedUntilUs_ = NowUs() + 1000000;
      }
    }
  }
}

}  // namespace pelvaron::sim
