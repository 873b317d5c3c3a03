// The least a station's tick can do, as a plain program to measure the
// console against (bench_console runs it beside pelvaron-headless): every
// half second it writes "gs" to the receiver's port and waits in poll for the
// answer with the console's read time-outs (up to 4 bytes; 10 ms after a byte,
// 90 ms in all). Nothing else: no files, no decoding, no purges.
//
//   plain_station DEVICE [TICK_MS]
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

long long NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: plain_station DEVICE [TICK_MS]\n");
    return 2;
  }
  const long tickMs = argc > 2 ? std::atol(argv[2]) : 500;
  int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  if (fd < 0 || tcgetattr(fd, &t) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  tcsetattr(fd, TCSANOW, &t);

  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (;;) {
    next.tv_nsec += tickMs * 1000000L;
    while (next.tv_nsec >= 1000000000L) {
      next.tv_nsec -= 1000000000L;
      ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    if (write(fd, "gs", 2) != 2) continue;
    unsigned char answer[4];
    int got = 0;
    const long long start = NowUs();
    long long last = 0;
    while (got < 4) {
      long long deadline = start + 90000;
      if (got > 0 && last + 10000 < deadline) deadline = last + 10000;
      const long long left = deadline - NowUs();
      if (left <= 0) break;
      pollfd p{fd, POLLIN, 0};
      timespec timeout{static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000};
      if (ppoll(&p, 1, &timeout, nullptr) <= 0) break;
      ssize_t n = read(fd, answer + got, sizeof answer - got);
      if (n <= 0) break;
      got += static_cast<int>(n);
      last = NowUs();
    }
  }
}
