#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace halvik::testing {

// A free TCP port on 127.0.0.1 for a daemon to listen on. Taken below the kernel's ephemeral
// range, so no connection made meanwhile (by this or any process) can take it as its own
// local port before the daemon binds it; spread by process id and call, so concurrent tests
// choose different ones.
int FreeLoopbackPort();

// Success when `program` (rotctld, rigctld, gpsfake, gpsd) is installed; otherwise one line
// naming the Debian package that has it. ASSERT_TRUE(Installed("rotctld")).
::testing::AssertionResult Installed(const std::string& program);

// Waits (at most `limitMs` of real time) until something accepts connections on
// 127.0.0.1:`port`; true when it does.
bool WaitForLoopbackPort(int port, int limitMs = 10000);

// A loopback listener that never answers: `Accepting` completes connections (the kernel does,
// into a queue nobody reads) and never sends or reads a byte; `Full` has its one-place queue
// taken, so new connections are never accepted (their SYNs are dropped) however long one waits.
class SilentListener {
 public:
  enum Kind { Accepting, Full };
  explicit SilentListener(Kind kind);
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int listener_ = -1;
  int queued_ = -1;
  int port_ = -1;
};

// A program the test starts itself (found on PATH, no shell) and stops by its process id:
// SIGTERM, then the wait for it, when stopped or destroyed.
class Daemon {
 public:
  Daemon() = default;
  explicit Daemon(const std::vector<std::string>& argv) { Start(argv); }
  ~Daemon() { Stop(); }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  bool Start(const std::vector<std::string>& argv);
  void Stop();
  // SIGSTOP, and the wait until every thread of it has stopped (the signal is delivered to each
  // thread when it next runs, so one could still answer a request sent right after the kill);
  // SIGCONT to go on.
  bool Pause();
  bool Resume();
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace halvik::testing
