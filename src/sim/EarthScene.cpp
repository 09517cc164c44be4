#include "sim/EarthScene.h"

#include <algorithm>
#include <cmath>

#include "platform/Units.h"
#include "sim/HrptFrame.h"

namespace halvik::sim {
namespace {

double Clamp01(double x) {
  return std::clamp(x, 0.0, 1.0);
}

// A ground point as a unit vector from the Earth's centre, so the patterns below are smooth over
// the poles too.
struct Direction {
  double x, y, z;
  explicit Direction(GeoPoint p)
      : x(std::cos(p.latitude * kTrueRadiansPerDegree) *
          std::cos(p.longitude * kTrueRadiansPerDegree)),
        y(std::cos(p.latitude * kTrueRadiansPerDegree) *
          std::sin(p.longitude * kTrueRadiansPerDegree)),
        z(std::sin(p.latitude * kTrueRadiansPerDegree)) {}
};

// Cloud cover fixed to the Earth: waves along fixed directions through the globe, one bending
// another, make bands and cells a few hundred km across, clear over most of the globe.
double CloudAt(const Direction& d) {
  const double pattern = std::sin(23 * (0.8 * d.x + 0.6 * d.y) + 2 * std::sin(17 * d.z)) +
                         std::sin(19 * (0.36 * d.x - 0.48 * d.y + 0.8 * d.z) + 1.0);
  return Clamp01((0.5 * pattern - 0.35) / 0.4);
}

// Brightness over land varying on a scale of tens of km.
double ReliefAt(const Direction& d) {
  return std::sin(60 * (d.x + 0.3 * d.z)) * std::sin(55 * (d.y - 0.2 * d.z));
}

}  // namespace

std::shared_ptr<const LandIndex> MakeLandIndex() {
  return std::make_shared<const LandIndex>(BuiltInCoastlines());
}

EarthScene::EarthScene(const ElementSet& elements, SatelliteFamily family,
                       std::shared_ptr<const LandIndex> land)
    : swath_(elements,
             ScanImager{FactsOf(family).layout.pixels, Radians(ScanHalfAngleDegrees(family))}),
      land_(std::move(land)) {}

void EarthScene::Line(double utcMs, std::span<std::uint16_t> visible,
                      std::span<std::uint16_t> thermal) {
  const auto pixels = static_cast<std::size_t>(swath_.imager().pixels);
  if (utcMs != lineMs_ || visible_.size() != pixels) {
    visible_.assign(pixels, 0);
    thermal_.assign(pixels, 0);
    swath_.SetTime(utcMs / 1000.0);
    for (std::size_t p = 0; p < pixels; ++p) {
      const std::optional<GeoPoint> ground = swath_.Ground(static_cast<double>(p));
      // A ray past the limb sees cold space: the thermal channels' coldest count.
      if (!ground) {
        thermal_[p] = SceneCount(false, 0, 1, true);
        continue;
      }
      const bool land = land_ && land_->OnLand(*ground);
      const Direction direction(*ground);
      const double relief = land ? ReliefAt(direction) : 0.0;
      const double cloud = CloudAt(direction);
      visible_[p] = SceneCount(land, relief, cloud, false);
      thermal_[p] = SceneCount(land, relief, cloud, true);
    }
    lineMs_ = utcMs;
  }
  std::copy_n(visible_.begin(), std::min(pixels, visible.size()), visible.begin());
  std::copy_n(thermal_.begin(), std::min(pixels, thermal.size()), thermal.begin());
}

void ImagerLine(EarthScene* earth, double utcMs, double alongTrack,
                std::span<std::uint16_t> visible, std::span<std::uint16_t> thermal) {
  if (earth) {
    earth->Line(utcMs, visible, thermal);
  } else {
    SceneLine(alongTrack, visible, thermal);
  }
}

}  // namespace halvik::sim
