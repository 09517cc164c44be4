#pragma once

#include <sys/types.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Spawn.h"

namespace halvik {

// Starts programs with posix_spawn: the argument vector as given (no shell), the inherited
// environment, default signal dispositions and an empty signal mask. It remembers its own
// children and reaps those that have exited on every spawn, on ReapExited and when destroyed,
// without blocking and without touching children that other parts of the process started.
class PosixSpawner final : public ProcessSpawner {
 public:
  PosixSpawner() = default;
  ~PosixSpawner() override;
  PosixSpawner(const PosixSpawner&) = delete;
  PosixSpawner& operator=(const PosixSpawner&) = delete;

  bool Spawn(const std::filesystem::path& program, const std::vector<std::string>& argv) override;
  // As Spawn, returning the child's process id, or -1 when it could not be started.
  pid_t SpawnChild(const std::filesystem::path& program, const std::vector<std::string>& argv);
  // Reaps every child of this spawner that has exited; returns how many are still running.
  std::size_t ReapExited();

 private:
  std::size_t ReapExitedLocked();
  std::mutex mutex_;
  std::vector<pid_t> children_;
};

}  // namespace halvik
