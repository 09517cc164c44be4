#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "devices/Downlink.h"

namespace halvik {

// A frame's time from its own time code (day of the year, milliseconds of the day), in ms since
// 1970-01-01 00:00 UTC. The time code has no year: it is the one that puts the frame nearest
// `nearSeconds` (a marker's time from the station clock). Nothing when the code is out of range
// or more than two hours from `nearSeconds`, as a time code hit by bit errors may be.
std::optional<std::int64_t> FrameTimeMs(const std::uint16_t* frame, const HrptLayout& layout,
                                        std::int64_t nearSeconds);

// What the image maker needs of each recorded frame, in file order.
struct FrameStamp {
  bool sync = false;                   // begins with the six frame-sync words
  std::optional<std::int64_t> timeMs;  // from its time code
};

// Where each frame's scan line goes. Frames follow one another one scan period apart; a frame
// whose time code says it came later is put that many lines further on, leaving black lines for
// the scan lines that were never recorded (a sync loss, frames the ring dropped). A jump is
// believed only when the next frame's time code agrees with it, so a time code spoilt by bit
// errors does not tear the picture. Frames without sync keep their line, drawn black.
struct ScanLinePlan {
  std::vector<std::int32_t> rowOfFrame;     // per frame, from 0
  std::int32_t rows = 0;                    // scan lines in the picture, lost ones included
  std::optional<std::int64_t> firstTimeMs;  // first and last frame times that were believed
  std::optional<std::int64_t> lastTimeMs;
};

ScanLinePlan PlanScanLines(std::span<const FrameStamp> frames, int framesPerSecond);

// When scan line 0 was seen, ms since 1970: the median over the frames with sync and a time of
// their time less their line's scan periods, so a few times spoilt by bit errors do not move it.
// Nothing when no frame has a time.
std::optional<double> FirstLineMs(const ScanLinePlan& plan, std::span<const FrameStamp> frames,
                                  int framesPerSecond);

}  // namespace halvik
