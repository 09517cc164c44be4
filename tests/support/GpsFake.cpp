#include "support/GpsFake.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/Text.h"
#include "support/Daemon.h"

extern char** environ;

namespace halvik {

GpsFake::GpsFake(const std::filesystem::path& directory, const std::string& log, std::uint16_t port)
    : port_(port != 0 ? port : static_cast<std::uint16_t>(testing::FreeLoopbackPort())) {
  const std::filesystem::path logFile = directory / "fix.nmea";
  const std::string output = (directory / "gpsfake.out").string();
  if (FILE* f = std::fopen(logFile.c_str(), "wb")) {
    std::fwrite(log.data(), 1, log.size(), f);
    std::fclose(f);
  }
  // gpsd listens on the loopback interface unless told otherwise (-G), so the test touches no
  // other address.
  std::vector<std::string> args = {"gpsfake", "-q", "-P", std::to_string(port_), logFile.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group (numbered by its pid), which its gpsd joins: both go together.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "gpsfake", &files, &attributes, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attributes);
}

void GpsFake::Stop() {
  if (pid_ <= 0) return;
  // An interrupt lets gpsfake stop its gpsd itself; whatever of the group is left after a few
  // seconds is killed.
  ::kill(pid_, SIGINT);
  int status = 0;
  for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(-pid_, SIGKILL);
  ::waitpid(pid_, &status, 0);
  std::error_code ignored;
  std::filesystem::remove(Format("/tmp/gpsfake-%d.sock", static_cast<int>(pid_)), ignored);
  pid_ = -1;
}

}  // namespace halvik
