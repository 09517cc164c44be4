#pragma once

#include <optional>
#include <string>

#include "devices/Downlink.h"
#include "orbit/SatelliteTable.h"

namespace halvik::sim {

// What reaches the station's receiver at this moment.
struct DownlinkView {
  bool receivable = false;      // above the horizon, antenna within its beam, receiver tuned
  double signalLevelVolts = 0;  // 0.000 .. 9.999; grows with elevation, 0 when not receivable
  std::string satelliteName;    // the satellite heard (empty when none)
  SatelliteFamily family = SatelliteFamily::Noaa;
  double elevationDeg = -90;  // true elevation of that satellite
  double bitErrorRate = 0.5;  // errors per bit in the frames; 0.5 (noise) when not receivable
  double alongTrack = 0;      // 0..1 progress through the pass, for the synthetic scene
  // The satellite's orbit, when the sky knows it: its imager then sees the Earth below it
  // (sim/EarthScene.h) at each line's time instead of the synthetic scene.
  std::optional<ElementSet> elements;
};

// The seam between the simulated boards and the simulated sky. The tracker board tells the sky
// where the dish looks, the receiver board what it is tuned to; the receiver and the
// synchronizer ask what they hear. Implementations are thread-safe: the boards are driven from
// the station's user-interface, tracking and capture threads.
class SkyLink {
 public:
  virtual ~SkyLink() = default;
  // True direction of the antenna's beam in the sky (after undoing any over-the-top flip):
  // azimuth 0..360 from north through east, elevation 0..90.
  virtual void PointAntenna(double azimuthDeg, double elevationDeg) = 0;
  // The receiver's tuned frequency and its mode command number (3 or 5).
  virtual void TuneReceiver(double frequencyMHz, int mode) = 0;
  virtual DownlinkView Downlink() = 0;
};

}  // namespace halvik::sim
