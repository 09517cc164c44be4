#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/SimHardware.h"

namespace halvik {

// What a running station is told from outside while it runs on a simulated clock: the
// computer's clock set forwards or backwards, and (on the simulated boards) their failure
// switches. One setting a line, the whole state every time:
//   clock-step-ms MS        the computer's clock reads MS ms more (or less) than it ran
//   receiver-silent 0|1     and likewise tracker-never-ready, tracker-silent, gps-silent,
//                           gps-garbage, synchronizer-stopped
//   fade FROM UNTIL         the downlink lost between these true UTC seconds (one a line)
struct SimControl {
  std::int64_t clockStepMs = 0;
  SimSwitches switches;
  bool operator==(const SimControl&) const = default;
};

// Unknown names and lines that do not parse are passed over, so a writer caught half-way
// cannot switch anything it did not mean to (writers replace the file whole).
SimControl ParseSimControl(std::string_view text);

// Reads a control file whenever it changed and applies it: the step to the computer's clock,
// the switches to the simulated boards (none on other hardware). Called from one thread.
class SimControlFile {
 public:
  SimControlFile(std::filesystem::path file, OffsetClock& computerClock, SimHardware* sim)
      : file_(std::move(file)), computerClock_(computerClock), sim_(sim) {}
  // True when it applied a change.
  bool Poll();
  const SimControl& applied() const { return applied_; }

 private:
  std::filesystem::path file_;
  OffsetClock& computerClock_;
  SimHardware* sim_;
  std::array<std::int64_t, 4> seen_{};  // inode, modification time (s, ns), size
  SimControl applied_;
};

}  // namespace halvik
