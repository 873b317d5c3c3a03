#include "outputs/write_all.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "outputs/report.h"
#include "support/result_support.h"

namespace pelvaron {
namespace {

using std::chrono::steady_clock;

struct Pipe {
  int read = -1, write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read = fds[0];
      write = fds[1];
      ::fcntl(write, F_SETFL, O_NONBLOCK);
    }
  }
  ~Pipe() {
    if (read >= 0) ::close(read);
    if (write >= 0) ::close(write);
  }
};

TEST(WriteAllTest, AFullPipeStopsItAtOnceOrAtTheDeadlineAndAReaderLetsEverythingThrough) {
  KeepPipeSignalsAway();
  const std::string data(1 << 20, 'x');
  {
    Pipe pipe;
    const auto room = static_cast<std::size_t>(::fcntl(pipe.write, F_GETPIPE_SZ));
    ASSERT_LT(room, data.size());
    std::size_t written = 0;
    EXPECT_EQ(testing::ProblemOf(WriteAll(pipe.write, data, &written)).code, EAGAIN);
    EXPECT_EQ(written, room);
    // Nobody makes room: the deadline ends the wait.
    EXPECT_EQ(testing::ProblemOf(WriteAll(pipe.write, data, &written, steady_clock::now())).code, ETIMEDOUT);
    EXPECT_EQ(written, 0u);
  }
  {
    // A reader that drains the pipe: every byte arrives, in one call.
    Pipe pipe;
    std::string received;
    std::thread reader([&] {
      char buffer[4096];
      ssize_t n;
      while ((n = ::read(pipe.read, buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(n));
    });
    std::size_t written = 0;
    EXPECT_TRUE(
        testing::Succeeded(WriteAll(pipe.write, data, &written, steady_clock::now() + std::chrono::seconds(30))));
    EXPECT_EQ(written, data.size());
    ::close(pipe.write);
    pipe.write = -1;
    reader.join();
    EXPECT_EQ(received, data);
  }
  {
    // The reader has gone: the error, not a signal.
    Pipe pipe;
    ::close(pipe.read);
    pipe.read = -1;
    const Result<> wrote = WriteAll(pipe.write, "x", nullptr, steady_clock::now() + std::chrono::seconds(30));
    EXPECT_EQ(testing::ProblemOf(wrote).code, EPIPE);
  }
}

}  // namespace
}  // namespace pelvaron
