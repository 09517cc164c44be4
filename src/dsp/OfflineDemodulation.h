#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "devices/Downlink.h"
#include "dsp/Recording.h"

namespace halvik {

// What demodulating a whole recording found.
struct DemodulationSummary {
  std::int64_t samples = 0;
  FrameKind frameKind = FrameKind::HrptWords;
  std::int64_t frames = 0;          // written, whole and in order
  std::int64_t framesWithSync = 0;  // of them, those whose sync was found within its allowance
  double meanEbn0Db = 0;            // over the frames
  double carrierOffsetHz = 0;       // from the recording's centre, where the first frame was found
  // Coded families: Reed-Solomon totals, and the coding phase the decoder locked to last.
  std::int64_t correctedBytes = 0;
  std::int64_t uncorrectableCodewords = 0;
  std::string codingPhase;
  bool written = false;  // no frame, no file: an empty one would only mislead
};

// Pushes every sample of `source` through the receive chain of `family` and writes the frames
// found, under a temporary name renamed to `out` only at the end: HRPT frames as the word stream
// a demodulator gives the station (16-bit little-endian words, a 10-bit word in the low bits of
// each), CADUs as plain bytes (1024 each, a clean marker first), flywheel frames included.
// False, with one line in `error` and no file, when the recording fails on the way or the
// output cannot be written. `progress` hears the fraction done now and then.
bool DemodulateRecording(RecordingSource& source, SatelliteFamily family,
                         const std::filesystem::path& out, DemodulationSummary& summary,
                         std::string& error, const std::function<void(double)>& progress = {});

// The one line that tells an operator what came out.
std::string SummaryLine(const DemodulationSummary& summary, const std::filesystem::path& out);

}  // namespace halvik
