#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Spawn.h"
#include "platform/SystemInfo.h"

namespace halvik::testing {

// Records the programs started instead of starting them.
class RecordingSpawner final : public ProcessSpawner {
 public:
  struct Started {
    std::filesystem::path program;
    std::vector<std::string> argv;
  };
  bool Spawn(const std::filesystem::path& program, const std::vector<std::string>& argv) override;
  std::vector<Started> Spawned() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Started> started_;
};

// Plenty of memory and disk, whatever the machine has.
class RoomySystemInfo final : public SystemInfo {
 public:
  std::optional<std::uint64_t> PhysicalMemoryBytes() override { return 1ull << 33; }
  std::optional<double> FreeBytes(const std::filesystem::path&) override { return 1e12; }
  std::string MountPoint(const std::filesystem::path&) override { return "/"; }
};

}  // namespace halvik::testing
