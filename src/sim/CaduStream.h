#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "devices/Downlink.h"

namespace halvik::sim {

class EarthScene;

// A CADU family's satellite as one endless stream: CADU N is the N-th it has sent since
// 1970-01-01 00:00 UTC, its first bit N CADU periods after that instant, and follows from its
// number alone.
class CaduStream {
 public:
  virtual ~CaduStream() = default;
  // CADU `number` as the frame layers carry it (one byte in the low 8 bits of each of kCaduBytes
  // words); a scan line begun in it shows the scene at `alongTrack` (0..1 through the pass).
  virtual void CaduWords(std::int64_t number, double alongTrack, std::span<std::uint16_t> out) = 0;
  // The Earth the imager's lines show from now on (each line the one seen at its own time), in
  // place of the synthetic scene at `alongTrack`; nullptr: the synthetic scene again. Not owned.
  void SetEarth(EarthScene* earth) { earth_ = earth; }

 protected:
  EarthScene* earth_ = nullptr;
};

// The stream of the satellite `satelliteName` of a CADU family.
std::unique_ptr<CaduStream> MakeCaduStream(std::string_view satelliteName);

// The number of the first CADU of `family` that begins at or after `utcMs` (ms since 1970).
std::int64_t CaduNumberAt(SatelliteFamily family, double utcMs);

}  // namespace halvik::sim
