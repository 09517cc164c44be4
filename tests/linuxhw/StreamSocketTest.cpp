#include "linuxhw/StreamSocket.h"

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
  // A listener with no room in its accept queue drops a new connection's first SYN, so the
  // connect stays in progress until the client sends it again, about a second later.
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener.get(), 0), 0);
  ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
  const HostPort to{"127.0.0.1", std::to_string(ntohs(address.sin_port))};
  std::string error;
  const UniqueFd queued = ConnectTcp(to, 5000, error);
  ASSERT_TRUE(queued.valid()) << error;

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
    // Room for the SYN sent again.
    ::close(::accept(listener.get(), nullptr, nullptr));
  });
  const UniqueFd fd = ConnectTcp(to, 10000, error);
  helper.join();
  ::sigaction(SIGUSR1, &before, nullptr);
  EXPECT_TRUE(fd.valid()) << error;
}

}  // namespace
}  // namespace halvik
