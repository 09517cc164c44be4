#pragma once

#include <sys/types.h>
#include <filesystem>
#include <optional>

#include "config/StationFileNames.h"

namespace halvik {

// Writes the pid file on construction and removes it on destruction (the orderly exit). A
// process that dies leaves it behind; RunningStationPid sees through such a stale file.
class PidFile {
 public:
  explicit PidFile(std::filesystem::path dir);
  ~PidFile();
  PidFile(const PidFile&) = delete;
  PidFile& operator=(const PidFile&) = delete;
  bool written() const { return written_; }

 private:
  std::filesystem::path path_;
  bool written_ = false;
};

// The pid of the station running in `dir`: the pid file's process when it still lives and is a
// halvik process; nothing for a missing, unreadable or stale file.
std::optional<pid_t> RunningStationPid(const std::filesystem::path& dir);

}  // namespace halvik
