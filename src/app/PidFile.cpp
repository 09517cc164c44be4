#include "app/PidFile.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "platform/Files.h"
#include "platform/Text.h"

namespace halvik {

PidFile::PidFile(std::filesystem::path dir) : path_(std::move(dir) / kPidFileName) {
  written_ = WriteFileAtomically(path_, Format("%ld\n", static_cast<long>(getpid())));
}

PidFile::~PidFile() {
  if (!written_) return;
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

std::optional<pid_t> RunningStationPid(const std::filesystem::path& dir) {
  LineReader reader(dir / kPidFileName);
  std::optional<std::string> line = reader.Next();
  if (!line) return std::nullopt;
  const long pid = ParseLong(*line);
  if (pid <= 0 || pid == getpid()) return std::nullopt;
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return std::nullopt;
  // A stale file's number may since have gone to another program, which a SIGHUP would end.
  LineReader comm(std::filesystem::path("/proc") / std::to_string(pid) / "comm");
  std::optional<std::string> name = comm.Next();
  if (!name || name->rfind("halvik", 0) != 0) return std::nullopt;
  return static_cast<pid_t>(pid);
}

}  // namespace halvik
