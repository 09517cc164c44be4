#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "devices/Downlink.h"

namespace halvik {

// What became of one capture.
struct CaptureImagesResult {
  bool ok = false;
  std::string error;                 // one line, when !ok
  std::vector<std::string> written;  // file names written into the output directory, in order
  std::vector<std::string> notes;    // what was made of input that was not quite whole
};

// Turns a capture file into, in `outDir`, with NAME the capture's file name:
//   NAME.chK.png   every channel K (from 1) of the family's instrument, 8-bit grey, one row per
//                  scan line. Each channel is stretched from its own histogram of the 10-bit
//                  samples of frames in lock: the 2nd percentile becomes 0, the 98th 255.
//                  Thermal channels show cold as white: the radiometers' thermal counts rise
//                  as the scene cools, so their stretched counts are the customary inverted
//                  temperature picture.
//   NAME.rgb.png   the family's false-colour composite (devices/Downlink.h says which)
//   NAME.thumb.png that composite at most 512 pixels wide (a box average)
//   NAME.json      the pass's quality record
// A northbound pass is turned half a turn so that north is up. Scan lines lost to a sync loss
// or missing from the frames' time codes are black lines in their place. Every file is written
// under a temporary name and renamed, so no half-written file is left under a final name.
CaptureImagesResult MakeCaptureImages(const std::filesystem::path& capture,
                                      const std::filesystem::path& outDir);

// True when `capture` holds CADUs: a family given whose frames are CADUs, or, with no family
// given, a name ending in ".cadu".
bool IsCaduCapture(const std::filesystem::path& capture, std::optional<SatelliteFamily> family);

// `halvik image CAPTURE [--family F] [--out DIR]`: the files written on `out`, one path a line;
// notes and a one-line fault on `err`. Returns the exit status: 0, or 2 for a capture that
// cannot be read or pictured, or a directory that cannot be written.
int ImageCaptureFile(const std::filesystem::path& capture,
                     const std::optional<std::filesystem::path>& outDir, std::ostream& out,
                     std::ostream& err, std::optional<SatelliteFamily> family = std::nullopt);

}  // namespace halvik
