#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "devices/Downlink.h"
#include "orbit/Coastlines.h"
#include "orbit/ScanGeometry.h"

namespace halvik::sim {

// The built-in coastlines' land, indexed; a few milliseconds to make, so it is made once and
// shared by every scene.
std::shared_ptr<const LandIndex> MakeLandIndex();

// The simulated Earth under a satellite's imager: each scan line's pixels placed on the globe by
// the same geometry the image maker uses (orbit/ScanGeometry.h), land and sea from the built-in
// coastlines, and a cloud field fixed to the Earth, so a simulated pass pictured on a map lines
// up with the map's coastlines. Keeps its last line, so asking for it again costs nothing.
class EarthScene {
 public:
  EarthScene(const ElementSet& elements, SatelliteFamily family,
             std::shared_ptr<const LandIndex> land);

  // The scan line seen at `utcMs` (ms since 1970): the visible and thermal counts (as
  // SceneSample gives them: thermal counts rise as the scene cools) of each pixel, pixel 0
  // first. Both spans as wide as the family's lines; other widths are filled as far as they go.
  void Line(double utcMs, std::span<std::uint16_t> visible, std::span<std::uint16_t> thermal);

 private:
  SwathGeometry swath_;
  std::shared_ptr<const LandIndex> land_;
  double lineMs_ = -1;
  std::vector<std::uint16_t> visible_;
  std::vector<std::uint16_t> thermal_;
};

// One scan line's visible and thermal counts: the line `earth` sees at `utcMs`, or without an
// Earth the synthetic scene at `alongTrack` (SceneLine).
void ImagerLine(EarthScene* earth, double utcMs, double alongTrack,
                std::span<std::uint16_t> visible, std::span<std::uint16_t> thermal);

}  // namespace halvik::sim
