#include "orbit/Tracks.h"

#include <algorithm>
#include <cmath>

#include "orbit/PassPrediction.h"
#include "orbit/Sgp4.h"
#include "orbit/StationGeometry.h"
#include "platform/Units.h"

namespace halvik {
namespace {

// A listing of a day at one sample a second is the most any caller asks for.
constexpr std::int64_t kMaxSamples = 86400 + 2;

}  // namespace

std::vector<SkyPoint> SampleSky(const ElementSet& elements, const StationConfig& station,
                                std::int64_t from, std::int64_t to, int stepSeconds) {
  std::vector<SkyPoint> points;
  if (to < from || stepSeconds <= 0 || (to - from) / stepSeconds > kMaxSamples) return points;
  Sgp4Cache cache;
  PassSearch search(elements, station, cache);
  auto add = [&](std::int64_t t) {
    const LookAngles look = search.Look(TsinceOf(t, elements.epochMinutes));
    points.push_back(
        {t, look.azimuth * kDisplayDegreesPerRadian, look.elevation * kDisplayDegreesPerRadian});
  };
  for (std::int64_t t = from; t < to; t += stepSeconds) add(t);
  add(to);
  return points;
}

std::vector<GeoPoint> GroundTrack(const ElementSet& elements, std::int64_t from, double seconds,
                                  int stepSeconds) {
  std::vector<GeoPoint> points;
  if (stepSeconds <= 0 || !(seconds >= 0) || seconds / stepSeconds > kMaxSamples) return points;
  ElementSet copy = elements;
  Sgp4Cache cache;
  StateVector state;
  for (double s = 0; s <= seconds; s += stepSeconds) {
    const double tsince = Tsince(static_cast<double>(from) + s, copy.epochMinutes);
    cache.Propagate(tsince, copy, state);
    const SubSatellitePoint point =
        ComputeSubSatellitePoint(tsince, copy.epoch1950Minutes, state.position);
    points.push_back(
        {point.longitude * kDisplayDegreesPerRadian, point.latitude * kDisplayDegreesPerRadian});
  }
  return points;
}

double OrbitSeconds(const ElementSet& elements) {
  return elements.meanMotion > 0 ? kTwoPi / elements.meanMotion * kSecondsPerMinute : 0.0;
}

double MeanOrbitRadius(const ElementSet& elements) {
  return elements.meanMotion > 0 ? std::pow(kXke / elements.meanMotion, 2.0 / 3.0) : 0.0;
}

std::vector<GeoPoint> VisibilityCircle(GeoPoint centre, double distance, double elevation,
                                       int points) {
  std::vector<GeoPoint> circle;
  if (!(distance > 1.0) || points < 3) return circle;
  const double angle = std::acos(std::cos(elevation) / distance) - elevation;
  const double lat1 = centre.latitude * kTrueRadiansPerDegree;
  const double lon1 = centre.longitude * kTrueRadiansPerDegree;
  for (int i = 0; i <= points; ++i) {
    const double bearing = kTwoPi * (i % points) / points;
    const double lat2 = std::asin(std::sin(lat1) * std::cos(angle) +
                                  std::cos(lat1) * std::sin(angle) * std::cos(bearing));
    double lon2 = lon1 + std::atan2(std::sin(bearing) * std::sin(angle) * std::cos(lat1),
                                    std::cos(angle) - std::sin(lat1) * std::sin(lat2));
    lon2 = std::remainder(lon2, kTwoPi);  // into [-pi, pi]
    circle.push_back({lon2 * kDisplayDegreesPerRadian, lat2 * kDisplayDegreesPerRadian});
  }
  return circle;
}

std::vector<std::vector<GeoPoint>> SplitAtAntimeridian(const std::vector<GeoPoint>& path) {
  std::vector<std::vector<GeoPoint>> pieces;
  if (path.empty()) return pieces;
  pieces.emplace_back().push_back(path.front());
  for (std::size_t i = 1; i < path.size(); ++i) {
    const GeoPoint& a = path[i - 1];
    const GeoPoint& b = path[i];
    if (std::fabs(b.longitude - a.longitude) > 180.0) {
      // Eastward over the edge when a lies in the east; the edge's latitude by the step's
      // proportion on the unwrapped longitude.
      const double edge = a.longitude > 0 ? 180.0 : -180.0;
      const double unwrapped = b.longitude + 2 * edge;
      const double t =
          unwrapped != a.longitude ? (edge - a.longitude) / (unwrapped - a.longitude) : 0.0;
      const double latitude = a.latitude + std::clamp(t, 0.0, 1.0) * (b.latitude - a.latitude);
      pieces.back().push_back({edge, latitude});
      pieces.emplace_back().push_back({-edge, latitude});
    }
    pieces.back().push_back(b);
  }
  return pieces;
}

}  // namespace halvik
