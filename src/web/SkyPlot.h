#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/Station.h"
#include "config/PassListing.h"
#include "orbit/Tracks.h"

namespace halvik::web {

// The antenna's read-back as a direction in the sky, kept by the web side while a pass is
// followed, so the sky plot shows where the antenna pointed against where the satellite was.
class AntennaTrail {
 public:
  static constexpr std::size_t kMaxPoints = 3600;  // an hour at one point a second

  // Adds the read-back of station second `now` when the antenna is powered, inside its limits
  // and `following` a pass; once a second at most. An over-the-top read-back is turned to the
  // point of the sky it looks at.
  void Sample(std::int64_t now, const AntennaState& antenna, bool following);
  // The points of [from, to], oldest first.
  std::vector<SkyPoint> Between(std::int64_t from, std::int64_t to) const;

 private:
  mutable std::mutex mutex_;  // web threads only
  std::deque<SkyPoint> points_;
};

// What the sky plot shows: the pass followed now or next, as `halvik passes` lists it.
struct SkyPlot {
  std::int64_t now = 0;
  double minimumElevationDeg = 0;
  bool havePass = false;
  ListedPassTimes pass;
  bool followedNow = false;           // the station is following this pass
  std::vector<SkyPoint> track;        // AOS to LOS, both ends included
  std::vector<SkyPoint> ticks;        // each whole minute of the pass
  std::vector<SkyPoint> trail;        // antenna read-back during the pass
  std::optional<SkyPoint> satellite;  // now, when above the horizon
  std::optional<SkyPoint> flipMark;   // a flipped pass: where it crosses north, else its top
};

// The pass to plot: the one the station is following, else the first the priority rule lets
// through that has not ended by `now`; its track from the satellite's element set in `station`.
SkyPlot MakeSkyPlot(const Station& station, const PassListing& listing, std::int64_t now,
                    const AntennaTrail& trail);

// A polar plot, north up and east right: zenith in the middle, the horizon as the outer
// circle, the minimum elevation dashed; the track with AOS, LOS and minute ticks, the antenna's
// trail, the satellite now. AOS and LOS times are in the svg element's data-aos and data-los.
std::string SkyPlotSvg(const SkyPlot& plot);

// The plot's coordinates of a point of the sky (400 x 400 view, horizon radius 180).
struct PlotXY {
  double x = 0;
  double y = 0;
};
PlotXY SkyToPlot(double azimuthDeg, double elevationDeg);

}  // namespace halvik::web
