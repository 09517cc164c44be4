#include "support/Daemon.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

extern char** environ;

namespace halvik::testing {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

int FreeLoopbackPort() {
  // Below Linux's default ephemeral range (32768 on), above the ports services are known by.
  constexpr int kLowest = 20000;
  constexpr int kCount = 12000;
  static std::atomic<int> calls{0};
  int lowestEphemeral = 32768;
  std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> lowestEphemeral;
  const int count = std::min(kCount, lowestEphemeral - kLowest);
  if (count <= 0) return -1;
  const int first = static_cast<int>((getpid() * 7919L) % count);
  for (int attempt = 0; attempt < 64; ++attempt) {
    const int port = kLowest + (first + 131 * (calls.fetch_add(1) + attempt)) % count;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address = Loopback(port);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (free) return port;
  }
  return -1;
}

::testing::AssertionResult Installed(const std::string& program) {
  struct Source {
    const char* program;
    const char* package;
  };
  constexpr Source kSources[] = {{"rotctld", "libhamlib-utils"},
                                 {"rigctld", "libhamlib-utils"},
                                 {"gpsfake", "gpsd-clients"},
                                 {"gpsd", "gpsd"}};
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  path += ":/usr/sbin:/sbin";  // gpsd lives there, and gpsfake looks there too
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string dir = path.substr(start, end - start);
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) {
      return ::testing::AssertionSuccess();
    }
    start = end + 1;
  }
  const char* package = "its package";
  for (const Source& source : kSources) {
    if (program == source.program) package = source.package;
  }
  return ::testing::AssertionFailure()
         << program << " is not installed: install the Debian package " << package;
}

bool WaitForLoopbackPort(int port, int limitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (std::chrono::steady_clock::now() < end) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address = Loopback(port);
    const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

SilentListener::SilentListener(Kind kind) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, kind == Full ? 0 : 16) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  if (kind == Full) {
    // The one connection the queue holds (a backlog of 0 still admits one): in, never taken.
    queued_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (queued_ < 0 || connect(queued_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
      port_ = -1;
    }
  }
}

SilentListener::~SilentListener() {
  if (queued_ >= 0) close(queued_);
  if (listener_ >= 0) close(listener_);
}

bool Daemon::Start(const std::vector<std::string>& argv) {
  Stop();
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
  pid_ = pid;
  return true;
}

bool Daemon::Pause() {
  if (pid_ <= 0 || kill(pid_, SIGSTOP) != 0) return false;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    bool allStopped = true;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
      // "PID (NAME) STATE ...": the state follows the last parenthesis.
      std::ifstream in(task.path() / "stat");
      const std::string stat((std::istreambuf_iterator<char>(in)), {});
      const std::size_t close = stat.rfind(')');
      if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'T') {
        allStopped = false;
      }
    }
    if (!error && allStopped) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

bool Daemon::Resume() {
  return pid_ > 0 && kill(pid_, SIGCONT) == 0;
}

void Daemon::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  kill(pid_, SIGCONT);  // a daemon a test stopped takes its SIGTERM once it goes on
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace halvik::testing
