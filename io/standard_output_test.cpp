#include "io/standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

using vesk::io::standard_output;

TEST(StandardOutput, PausedReaderCostsCountedLinesAndTheSharedFlagsStay) {
  // With a description of its own, and as when none can be had: then a thread of its own
  // writes to the shared one, which must never be made non-blocking for the other users.
  for (const bool reopen : {true, false}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int flags = ::fcntl(fds[1], F_GETFL);
    const std::string line = std::string(1023, 'x') + "\n";
    const size_t total = standard_output::pending_limit / line.size() + 200;
    std::string got;
    std::thread reader;
    {
      standard_output out(fds[1], reopen);
      EXPECT_EQ(::fcntl(fds[1], F_GETFL), flags) << reopen;
      // Nobody reads: more than the pipe and the bound hold, and no write waits.
      for (size_t i = 0; i < total; ++i) out.write(line);
      EXPECT_EQ(::fcntl(fds[1], F_GETFL), flags) << reopen;
      reader = std::thread([&] {
        char buf[1 << 16];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
      });
      out.finish();
    }
    EXPECT_EQ(::fcntl(fds[1], F_GETFL), flags) << reopen;
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    // Every line arrived whole or is counted.
    const size_t note = got.find("warn: ");
    ASSERT_NE(note, std::string::npos) << reopen;
    const size_t dropped = std::stoul(got.substr(note + 6));
    EXPECT_EQ(got.substr(got.find(" log lines", note)),
              " log lines were dropped from standard output: its reader did not take them in time.\n");
    EXPECT_EQ(note % line.size(), 0u) << reopen;
    EXPECT_EQ(note / line.size() + dropped, total) << reopen;
    EXPECT_GT(dropped, 0u) << reopen;
  }
}
