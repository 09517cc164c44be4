#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace halvik {

// Starts a program without waiting for it: an argument vector (no shell, so paths with blanks
// or shell characters are safe), the inherited environment. Children that have exited are
// reaped so none is left a zombie.
class ProcessSpawner {
 public:
  virtual ~ProcessSpawner() = default;
  // argv[0] is the program name as the child sees it. Returns whether the program started.
  virtual bool Spawn(const std::filesystem::path& program,
                     const std::vector<std::string>& argv) = 0;
};

}  // namespace halvik
