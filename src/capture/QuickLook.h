#pragma once

#include <cstdint>

#include "capture/CaptureShared.h"
#include "devices/Downlink.h"

namespace halvik {

inline constexpr int kQuickLookSamples = 153;  // columns 0..152 of each row receive data
inline constexpr int kQuickLookGroup = 13;     // recorded frames per image row

// The capture thread's own progress through the current row's group of 13 frames.
struct QuickLookCycle {
  std::int32_t counter = 0;  // recorded frames since the row last advanced, 0..13
};

// Empties both images for a new capture and puts the row at its start: the top row for a
// southbound pass, the bottom row for a northbound (reversed) one.
void ClearQuickLook(QuickLookBuffer& buffer, QuickLookCycle& cycle, bool reversed);

// One recorded frame: the 1st of every 13 fills the current row of image A, the 8th the same
// row of image B, the 13th moves the row on (up when reversed) until its limit row.
void AddQuickLookFrame(QuickLookBuffer& buffer, QuickLookCycle& cycle, SatelliteFamily family,
                       bool reversed, const std::uint16_t* frame);

// The same for a CADU family, whose imager lines come out of the CADUs: one line of `pixels`
// 10-bit counts per channel, channels A and B of the family's quick look (channel numbers from
// 0), spread over the row. `invertB`: channel B's counts rise with temperature, and is shown
// inverted so that cold cloud is white in both families' pictures.
void AddQuickLookLine(QuickLookBuffer& buffer, QuickLookCycle& cycle, bool reversed,
                      const std::uint16_t* channelA, const std::uint16_t* channelB, int pixels,
                      bool invertB);

}  // namespace halvik
