#include "platform/PosixSpawner.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace halvik {

PosixSpawner::~PosixSpawner() {
  std::lock_guard lock(mutex_);
  // Children still running when the station goes are left to run; once the process ends they
  // are re-parented and reaped by the system.
  ReapExitedLocked();
}

bool PosixSpawner::Spawn(const std::filesystem::path& program,
                         const std::vector<std::string>& argv) {
  return SpawnChild(program, argv) > 0;
}

pid_t PosixSpawner::SpawnChild(const std::filesystem::path& program,
                               const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return -1;
  // A post-processing program must not inherit ignored or blocked signals of the station.
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::lock_guard lock(mutex_);
  ReapExitedLocked();
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return -1;
  children_.push_back(pid);
  return pid;
}

std::size_t PosixSpawner::ReapExited() {
  std::lock_guard lock(mutex_);
  return ReapExitedLocked();
}

std::size_t PosixSpawner::ReapExitedLocked() {
  std::vector<pid_t> running;
  for (pid_t pid : children_) {
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    // 0: still running. pid: reaped now. -1 (ECHILD): someone else reaped it; forget it too.
    if (r == 0) running.push_back(pid);
  }
  children_.swap(running);
  return children_.size();
}

}  // namespace halvik
