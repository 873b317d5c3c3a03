#include "platform/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/create_file.h"
#include "core/read_deadline.h"
#include "core/unique_fd.h"
#include "platform/shutdown_signals.h"

namespace pelvaron {
namespace {

std::int64_t NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

struct Speed {
  std::int32_t baud;
  speed_t code;
};

constexpr Speed kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// An error that says the device itself is gone or broken, not that it is busy.
bool DeviceError(int err) {
  return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE;
}

// A UNIX98 pseudo-terminal's slave (major 136..143): the program at its other
// end keeps it in being after we close it, and with it any mode we set.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

bool ProcessRuns(pid_t pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

// The PID in a lock file: ASCII, ten columns and a new line as the FHS has it
// (leading spaces and a missing new line are taken too); 0 when unreadable.
pid_t LockOwner(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return 0;
  char text[32] = {};
  ssize_t n = read(fd.get(), text, sizeof text - 1);
  if (n <= 0) return 0;
  char* end = nullptr;
  long pid = std::strtol(text, &end, 10);
  if (end == text || pid <= 0 || pid > INT_MAX) return 0;
  return static_cast<pid_t>(pid);
}

}  // namespace

PosixSerialPort::PosixSerialPort(std::string lockDir) : lockDir_(std::move(lockDir)) {
  if (lockDir_.empty()) {
    struct stat st {};
    lockDir_ = stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode) ? "/run/lock" : "/var/lock";
  }
}

PosixSerialPort::~PosixSerialPort() {
  Close();
}

std::string PosixSerialPort::LockName(const std::string& resolvedPath) {
  std::string name = resolvedPath.rfind("/dev/", 0) == 0 ? resolvedPath.substr(5) : resolvedPath;
  while (!name.empty() && name.front() == '/') name.erase(0, 1);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return "LCK.." + name;
}

int PosixSerialPort::TakeLockFile(const std::string& resolvedPath) {
  const std::string path = lockDir_ + "/" + LockName(resolvedPath);
  for (int attempt = 0; attempt < 2; ++attempt) {
    Result<UniqueFd> made = CreateFile(path, O_WRONLY, WhenThere::Refuse);
    if (made) {
      char text[16];
      int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
      bool written = write(made->get(), text, static_cast<std::size_t>(n)) == n;
      made->reset();
      if (!written) {
        unlink(path.c_str());
        return 0;  // a full lock folder: the flock alone keeps the device
      }
      lockFile_ = path;
      return 0;
    }
    if (made.problem().code != EEXIST) return 0;  // no lock folder to write in: the flock alone keeps it
    const pid_t owner = LockOwner(path);
    // Our own file is left from a port of ours that was not closed in order;
    // a process that no longer runs, or a file that names none, holds nothing.
    if (owner > 0 && owner != getpid() && ProcessRuns(owner)) return EBUSY;
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return EBUSY;
  }
  return EBUSY;
}

void PosixSerialPort::ReleaseLockFile() {
  if (lockFile_.empty()) return;
  // Only a file that still names us: another process may have taken it over.
  if (LockOwner(lockFile_) == getpid()) unlink(lockFile_.c_str());
  lockFile_.clear();
}

int PosixSerialPort::Open(const std::string& devicePath) {
  Close();
  auto fail = [this](int err) {
    lastError_ = std::strerror(err);
    return err;
  };
  char resolved[PATH_MAX];
  if (realpath(devicePath.c_str(), resolved) == nullptr) return fail(errno);
  UniqueFd fd(open(resolved, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return fail(errno);
  termios t{};
  if (tcgetattr(fd.get(), &t) != 0) return fail(errno);
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  if (int err = TakeLockFile(resolved); err != 0) return fail(err);
  // Keeps other programs out that do not lock (root gets past it: the flock
  // and the lock file hold for everyone). Not on a pseudo-terminal: a console
  // killed with it open would leave it exclusive for as long as the program at
  // the other end runs, and its restart (not root) could never open it again.
  if (!IsPseudoTerminal(fd.get())) ioctl(fd.get(), TIOCEXCL);
  // A binary line: no echo, no line editing, no character translation. Flow
  // control stays as the driver has it. A read ends when a byte has come (the
  // time-outs are counted here), so 0 from read means the line hung up.
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(fd.get(), TCSANOW, &t) != 0) {
    int err = errno;
    ReleaseLockFile();
    return fail(err);
  }
  fd_ = std::move(fd);
  failed_ = false;
  shutdownSeen_ = false;
  timeouts_ = CommTimeouts{CommTimeouts::kNoWait, 0, 0, 0, 0};
  lastError_.clear();
  return 0;
}

void PosixSerialPort::Close() {
  if (!fd_) return;
  ioctl(fd_.get(), TIOCNXCL);  // the line may stay open elsewhere (a pty's other end)
  fd_.reset();
  failed_ = false;
  ReleaseLockFile();
}

bool PosixSerialPort::Cancelled() const {
  // A request still waiting to be taken has been seen by the last wait of a
  // read or write, which watches for it too; no system call here.
  return shutdownSeen_ || ShutdownTaken() != 0;
}

bool PosixSerialPort::GetLineSettings(LineSettings& s) {
  termios t{};
  if (!fd_ || tcgetattr(fd_.get(), &t) != 0) return false;
  const speed_t code = cfgetospeed(&t);
  s.baudRate = 0;
  for (const Speed& speed : kSpeeds) {
    if (speed.code == code) s.baudRate = speed.baud;
  }
  switch (t.c_cflag & CSIZE) {
    case CS5:
      s.dataBits = 5;
      break;
    case CS6:
      s.dataBits = 6;
      break;
    case CS7:
      s.dataBits = 7;
      break;
    default:
      s.dataBits = 8;
      break;
  }
  if (!(t.c_cflag & PARENB)) {
    s.parity = Parity::None;
  } else if (t.c_cflag & CMSPAR) {
    s.parity = (t.c_cflag & PARODD) ? Parity::Mark : Parity::Space;
  } else {
    s.parity = (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
  }
  s.stopBits = (t.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
  return true;
}

bool PosixSerialPort::SetLineSettings(const LineSettings& s) {
  termios t{};
  if (!fd_ || tcgetattr(fd_.get(), &t) != 0) return false;
  const Speed* speed = nullptr;
  for (const Speed& candidate : kSpeeds) {
    if (candidate.baud == s.baudRate) speed = &candidate;
  }
  if (speed == nullptr || s.dataBits < 5 || s.dataBits > 8 || s.stopBits == StopBits::OneAndHalf)
    return false;
  cfsetispeed(&t, speed->code);
  cfsetospeed(&t, speed->code);
  constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[s.dataBits - 5];
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
  switch (s.parity) {
    case Parity::None:
      break;
    case Parity::Odd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case Parity::Even:
      t.c_cflag |= PARENB;
      break;
    case Parity::Mark:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case Parity::Space:
      t.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (s.stopBits == StopBits::Two) {
    t.c_cflag |= CSTOPB;
  } else {
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  }
  return tcsetattr(fd_.get(), TCSANOW, &t) == 0;
}

bool PosixSerialPort::SetEventMask(unsigned) {
  // Nothing here waits on port events; the mask has nothing to select.
  return fd_.valid();
}

bool PosixSerialPort::SetQueueSizes(std::size_t, std::size_t) {
  // A recommendation only: the kernel's tty queues are its own, and every
  // exchange purges before it starts.
  return fd_.valid();
}

bool PosixSerialPort::Purge(unsigned flags) {
  if (!fd_) return false;
  const bool rx = flags & PURGE_RXCLEAR, tx = flags & PURGE_TXCLEAR;
  if (!rx && !tx) return true;
  if (tcflush(fd_.get(), rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) == 0) return true;
  if (DeviceError(errno)) Fail();
  return false;
}

bool PosixSerialPort::SetTimeouts(const CommTimeouts& t) {
  if (!fd_) return false;
  timeouts_ = t;
  return true;
}

PosixSerialPort::Wait PosixSerialPort::WaitFor(short events, std::int64_t us) {
  pollfd line{fd_.get(), events, 0};
  timespec timeout{};
  timespec* limit = nullptr;
  if (us >= 0) {
    timeout.tv_sec = static_cast<time_t>(us / 1000000);
    timeout.tv_nsec = static_cast<long>(us % 1000000) * 1000;
    limit = &timeout;
  }
  const int n = ppoll(&line, 1, limit, ShutdownWaitMask());
  if (n < 0 && errno == EINTR && ShutdownTaken() != 0) {
    shutdownSeen_ = true;  // asked to end: no more waiting
    return Wait::Stop;
  }
  if (n < 0) return errno == EINTR ? Wait::Ready : Wait::Stop;  // a spurious wake: the caller looks again
  if (n == 0) return Wait::TimedOut;                            // the caller's deadline decides
  // A hang-up with data still waiting is read first; the read then tells.
  if ((line.revents & (POLLERR | POLLNVAL)) || ((line.revents & POLLHUP) && !(line.revents & events))) {
    Fail();
    return Wait::Stop;
  }
  return Wait::Ready;
}

std::size_t PosixSerialPort::Write(const std::uint8_t* data, std::size_t size) {
  if (!fd_ || failed_ || size == 0) return 0;
  const bool bounded = timeouts_.WriteTotalTimeoutMultiplier != 0 || timeouts_.WriteTotalTimeoutConstant != 0;
  const std::int64_t deadline = NowUs() + (static_cast<std::int64_t>(timeouts_.WriteTotalTimeoutMultiplier) *
                                               static_cast<std::int64_t>(size) +
                                           timeouts_.WriteTotalTimeoutConstant) *
                                              1000;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd_.get(), data + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      std::int64_t left = -1;
      if (bounded) {
        left = deadline - NowUs();
        if (left <= 0) break;
      }
      if (WaitFor(POLLOUT, left) == Wait::Stop) break;
      continue;
    }
    if (n < 0 && DeviceError(errno)) Fail();
    break;
  }
  return done;
}

std::size_t PosixSerialPort::Read(std::uint8_t* data, std::size_t size) {
  if (!fd_ || failed_ || size == 0) return 0;
  ReadDeadline deadline(timeouts_, size, NowUs());
  std::size_t got = 0;
  // A read that may wait asks poll first: no read that finds nothing.
  bool readable = deadline.RemainingUs(NowUs()) == 0;
  while (got < size) {
    if (readable) {
      ssize_t n = read(fd_.get(), data + got, size - got);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
        deadline.BytesArrived(NowUs());
        readable = false;  // a tty read takes all there is
        continue;
      }
      if (n == 0) {  // hung up
        Fail();
        break;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN) {
        if (DeviceError(errno)) Fail();
        break;
      }
    }
    const std::int64_t left = deadline.RemainingUs(NowUs());
    if (left == 0 || ShutdownTaken() != 0) break;
    const Wait wait = WaitFor(POLLIN, left);
    if (wait == Wait::Stop) break;
    readable = wait == Wait::Ready;
  }
  return got;
}

}  // namespace pelvaron
