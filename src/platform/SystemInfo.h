#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace halvik {

// Memory and disk figures of the machine (the About box, the capture free-space rule).
class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // Total physical memory in bytes; nothing when it cannot be had.
  virtual std::optional<std::uint64_t> PhysicalMemoryBytes() = 0;
  // Bytes available to an unprivileged writer on the file system holding `dir`; nothing when
  // the query fails.
  virtual std::optional<double> FreeBytes(const std::filesystem::path& dir) = 0;
  // The mount point of the file system holding `dir` (Linux has no drive letters).
  virtual std::string MountPoint(const std::filesystem::path& dir) = 0;
};

}  // namespace halvik
