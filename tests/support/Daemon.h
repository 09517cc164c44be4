#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace halvik::testing {

// A free TCP port on 127.0.0.1 (the kernel's choice of an ephemeral port, released again).
int FreeLoopbackPort();

// Waits (at most `limitMs` of real time) until something accepts connections on
// 127.0.0.1:`port`; true when it does.
bool WaitForLoopbackPort(int port, int limitMs = 10000);

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
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace halvik::testing
