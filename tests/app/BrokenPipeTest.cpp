#include "app/BrokenPipe.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace halvik {
namespace {

TEST(BrokenPipe, WriteToAGonePeerFailsAndTheProcessGoesOn) {
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &before), 0);
  ASSERT_TRUE(IgnoreBrokenPipe());
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  ::close(ends[1]);
  // A plain write, as libraries make them (no MSG_NOSIGNAL): without the ignore, SIGPIPE's
  // default action would end this test program here.
  EXPECT_EQ(::write(ends[0], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  ::close(ends[0]);
  ::sigaction(SIGPIPE, &before, nullptr);
}

}  // namespace
}  // namespace halvik
