#include "linuxhw/StreamSocket.h"

#include "support/Daemon.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>

namespace halvik {
namespace {

extern "C" void IgnoreSignal(int) {}

// True while thread `tid` of this process is blocked in poll.
bool InPoll(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  in >> number;
  return in && (number == SYS_poll || number == SYS_ppoll);
}

TEST(StreamSocket, ConnectWaitOutlastsASignal) {
  // A listener whose accept queue is full drops every new connection's SYN: the connect stays in
  // progress for the whole wait, whatever the kernel resends, and a signal arrives during it.
  testing::SilentListener full(testing::SilentListener::Full);
  ASSERT_GT(full.port(), 0);
  const HostPort to{"127.0.0.1", std::to_string(full.port())};
  constexpr int kBoundMs = 1500;

  // No SA_RESTART, as with the station's own handlers; poll is never restarted anyway.
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &before), 0);
  const pthread_t caller = ::pthread_self();
  const pid_t callerTid = ::gettid();
  std::thread helper([&] {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!InPoll(callerTid) && std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::yield();
    }
    ::pthread_kill(caller, SIGUSR1);
  });
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  const UniqueFd fd = ConnectTcp(to, kBoundMs, error);
  const auto waited = std::chrono::steady_clock::now() - start;
  helper.join();
  ::sigaction(SIGUSR1, &before, nullptr);
  // The signal ended neither the wait nor the attempt: it went on to its bound.
  EXPECT_FALSE(fd.valid());
  EXPECT_EQ(error, "no answer");
  EXPECT_GE(waited, std::chrono::milliseconds(kBoundMs));
}

TEST(StreamSocket, NamesAreLookedUpWithinTheBound) {
  std::string error;
  // --- a numeric address and the loopback name: found at once
  for (const char* host : {"127.0.0.1", "localhost"}) {
    const AddressList found = ResolveTcp(HostPort{host, "2947"}, 2000, error);
    EXPECT_NE(found.first(), nullptr) << host << ": " << error;
  }
  // --- a service nobody knows (no name server is asked): the look-up's own failure, in its
  // words, not a time-out
  const AddressList none = ResolveTcp(HostPort{"127.0.0.1", "no-such-service"}, 2000, error);
  EXPECT_EQ(none.first(), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error, "no answer from the name service");
}

}  // namespace
}  // namespace halvik
