#include "app/SimControl.h"

#include <sys/stat.h>

#include <sstream>

#include "platform/Files.h"

namespace halvik {
namespace {

constexpr std::size_t kControlFileLimit = 64 * 1024;

}  // namespace

SimControl ParseSimControl(std::string_view text) {
  SimControl control;
  std::istringstream in{std::string(text)};
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string name;
    if (!(words >> name)) continue;
    if (name == "fade") {
      double from = 0, until = 0;
      if (words >> from >> until && from < until) control.switches.fades.emplace_back(from, until);
      continue;
    }
    long long value = 0;
    if (!(words >> value)) continue;
    SimSwitches& s = control.switches;
    if (name == "clock-step-ms") control.clockStepMs = value;
    if (name == "receiver-silent") s.receiverSilent = value != 0;
    if (name == "tracker-never-ready") s.trackerNeverReady = value != 0;
    if (name == "tracker-silent") s.trackerSilent = value != 0;
    if (name == "gps-silent") s.gpsSilent = value != 0;
    if (name == "gps-garbage") s.gpsGarbage = value != 0;
    if (name == "synchronizer-stopped") s.synchronizerStopped = value != 0;
  }
  return control;
}

bool SimControlFile::Poll() {
  // A writer replaces the file by a rename: a new inode, even when two writes fall within the
  // file system's timestamp granularity.
  struct stat info {};
  if (::stat(file_.c_str(), &info) != 0) return false;
  const std::array<std::int64_t, 4> seen = {
      static_cast<std::int64_t>(info.st_ino), static_cast<std::int64_t>(info.st_mtim.tv_sec),
      static_cast<std::int64_t>(info.st_mtim.tv_nsec), static_cast<std::int64_t>(info.st_size)};
  if (seen_ == seen) return false;
  seen_ = seen;
  const std::optional<std::string> text = ReadSmallFile(file_, kControlFileLimit);
  if (!text) return false;
  const SimControl control = ParseSimControl(*text);
  if (control == applied_) return false;
  computerClock_.SetOffsetMs(control.clockStepMs);
  if (sim_) sim_->ApplySwitches(control.switches);
  applied_ = control;
  return true;
}

}  // namespace halvik
