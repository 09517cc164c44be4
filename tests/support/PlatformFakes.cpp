#include "support/PlatformFakes.h"

namespace halvik::testing {

bool RecordingSpawner::Spawn(const std::filesystem::path& program,
                             const std::vector<std::string>& argv) {
  std::lock_guard lock(mutex_);
  started_.push_back({program, argv});
  return true;
}

std::vector<RecordingSpawner::Started> RecordingSpawner::Spawned() const {
  std::lock_guard lock(mutex_);
  return started_;
}

}  // namespace halvik::testing
