#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/CaptureFileReader.h"

namespace halvik::soak {

// One pass line of the station's pass listing.
struct ListedPass {
  int slot = 0;
  std::string name;  // blanks restored
  std::string code;  // the capture file code the station gives the satellite
  std::int64_t aos = 0;
  std::int64_t los = 0;  // 0: stays up for a day (no end listed)
};

// A pass line of the listing ("slot name aos los max_el direction flip"); nothing for the
// header, geosynchronous slots and anything that does not parse.
std::optional<ListedPass> ParsePassLine(std::string_view line);

// The passes that the station's priority rule (PriorityLetsThrough) lets through.
std::vector<ListedPass> LetThrough(const std::vector<ListedPass>& passes);

// What a finished capture file showed when it was read back.
struct CaptureCheck {
  std::string file;  // final name
  std::string code;  // three characters after the dot
  bool readOk = false;
  std::string fault;              // empty when the file is well-formed
  std::int64_t acquiredTime = 0;  // first marker (sync acquired)
  std::int64_t endTime = 0;       // last marker (end of capture)
  std::int64_t frames = 0;
  // Frames the downlink sent while the board was in lock (sync acquired .. lost / end).
  double framesExpected = 0;
  int lockIntervals = 0;  // stretches in lock that framesExpected adds up
};

// Reads the contents' shape: header found, sync acquired with count 30 first, end marker last,
// at least one frame run. `fault` says the first thing wrong.
CaptureCheck CheckCapture(const std::string& fileName, const CaptureReadResult& read);

// Frames per second of the downlink family of a capture code ("fy1", "str", else NOAA).
double FramesPerSecond(std::string_view code);

// The share of the frames sent in lock that a capture must hold; fewer means the capture thread
// fell behind the simulated clock.
inline constexpr double kMinimumFrameShare = 0.97;

// Whether a capture holds enough of the frames sent in lock: the share above, less one second
// of frames per stretch in lock, since marker times are whole seconds and so each stretch's
// length is known only to the second (which matters for a capture cut short after a few
// seconds by a higher slot's pass).
bool HoldsEnoughFrames(const CaptureCheck& check);

// The let-through passes that no capture of their code started for: a capture starts for a
// pass when its sync-acquired time lies in [aos - 61, los].
std::vector<ListedPass> Missed(const std::vector<ListedPass>& expected,
                               const std::vector<CaptureCheck>& captures);

// How many of each code.
std::map<std::string, int> CountByCode(const std::vector<ListedPass>& passes);
std::map<std::string, int> CountByCode(const std::vector<CaptureCheck>& captures);

}  // namespace halvik::soak
