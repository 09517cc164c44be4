#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "platform/Clock.h"
#include "sim/SkyLink.h"

namespace halvik::testing {

// How one NOAA 14 pass sounds to the synchronizer: a clean link (1e-4 bit errors) from `aos`
// for `seconds`, except during the fade [fadeStart, fadeEnd) (seconds after AOS); the synthetic
// scene runs `alongPerSecond` of the way through the pass each second from `alongAtAos`; with
// `elements`, the imager sees the Earth under that orbit instead.
struct PassShape {
  std::int64_t aos = 0;
  double seconds = std::numeric_limits<double>::infinity();
  double fadeStart = -1;
  double fadeEnd = -1;
  double alongAtAos = 0;
  double alongPerSecond = 0;
  std::optional<ElementSet> elements = std::nullopt;
};

class PassLink final : public sim::SkyLink {
 public:
  PassLink(Clock& clock, PassShape shape) : clock_(clock), shape_(shape) {}
  void PointAntenna(double, double) override {}
  void TuneReceiver(double, int) override {}
  sim::DownlinkView Downlink() override {
    const double t = clock_.Now().AsSeconds() - static_cast<double>(shape_.aos);
    sim::DownlinkView view;
    view.receivable =
        t >= 0 && t < shape_.seconds && !(t >= shape_.fadeStart && t < shape_.fadeEnd);
    if (!view.receivable) return view;
    view.signalLevelVolts = 6.0;
    view.satelliteName = "NOAA 14";
    view.family = SatelliteFamily::Noaa;
    view.elevationDeg = 40;
    view.bitErrorRate = 1e-4;
    view.alongTrack = shape_.alongAtAos + shape_.alongPerSecond * t;
    view.elements = shape_.elements;
    return view;
  }

 private:
  Clock& clock_;
  PassShape shape_;
};

}  // namespace halvik::testing
