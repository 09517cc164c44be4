#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/SystemInfo.h"

namespace halvik {

// Memory and disk figures from the Linux kernel: sysinfo for memory, statvfs for free space,
// the mount table of this process for mount points.
class LinuxSystemInfo final : public SystemInfo {
 public:
  std::optional<std::uint64_t> PhysicalMemoryBytes() override;
  std::optional<double> FreeBytes(const std::filesystem::path& dir) override;
  std::string MountPoint(const std::filesystem::path& dir) override;
};

// The mount point, among the mount points listed in a /proc/<pid>/mountinfo text, that holds
// `path` (absolute, normalised): the longest one that is `path` itself or one of its parents.
// "/" when none matches. Separated from the file access so odd mount tables can be tested.
std::string MountPointFromMountInfo(std::string_view mountInfo, const std::filesystem::path& path);

}  // namespace halvik
