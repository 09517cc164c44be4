#include "sim/Sky.h"

#include <algorithm>
#include <cmath>

#include "orbit/ElementSet.h"
#include "orbit/Sgp4.h"
#include "orbit/StationGeometry.h"
#include "platform/Text.h"
#include "platform/Units.h"

namespace halvik::sim {
namespace {

// Horizon crossings are refined to this (s).
constexpr double kCrossingResolution = 0.001;
// A pass of a low orbit lasts well under this; the search for its ends gives up beyond (s).
constexpr double kLongestPass = 2 * 3600.0;

double ElevationDeg(const TrueSatellite& satellite, const StationConfig& station, double t) {
  return LookFrom(satellite, station, t).elevationDeg;
}

// The instant of a horizon crossing, between a time when the satellite is above `threshold`
// and one when it is not (either order); returns an instant at which it is above.
double RefineCrossing(const TrueSatellite& satellite, const StationConfig& station, double above,
                      double notAbove, double threshold) {
  while (std::fabs(above - notAbove) > kCrossingResolution) {
    double mid = 0.5 * (above + notAbove);
    if (ElevationDeg(satellite, station, mid) > threshold)
      above = mid;
    else
      notAbove = mid;
  }
  return above;
}

// Far below the horizon a low satellite needs minutes to come up, so the scan strides there
// and walks near the horizon, where a grazing pass can be short.
double ScanStep(double elevationDeg) {
  if (elevationDeg < -30) return 300;
  if (elevationDeg < -10) return 60;
  return 15;
}

std::optional<double> FirstRise(const TrueSatellite& satellite, const StationConfig& station,
                                double from, double until, double threshold) {
  double t = from;
  double el = ElevationDeg(satellite, station, t);
  while (el > threshold && t < until) {  // sit out a pass in progress
    t += 15;
    el = ElevationDeg(satellite, station, t);
  }
  while (t < until) {
    double next = t + ScanStep(el);
    double nextEl = ElevationDeg(satellite, station, next);
    if (nextEl > threshold) return RefineCrossing(satellite, station, next, t, threshold);
    t = next;
    el = nextEl;
  }
  return std::nullopt;
}

}  // namespace

StationConfig MakeStationConfig(const TrueStation& s) {
  StationConfig config;
  SetStation(config, Format("%.10f", s.latitudeDeg), Format("%.10f", s.longitudeDeg),
             Format("%.4f", s.heightFeet));
  return config;
}

DownlinkPlan DownlinkPlanFor(std::string_view name) {
  std::optional<Downlink> downlink = DownlinkFor(name);
  if (!downlink) return DownlinkPlan{};
  return DownlinkPlan{downlink->frequencyMHz, FactsOf(downlink->family).receiverMode,
                      downlink->family};
}

ElementSetResult MakeTrueSatellite(std::string_view name, std::string_view line1,
                                   std::string_view line2, TrueSatellite& out) {
  SatelliteRecord record;
  ElementSetResult result = ParseElementSet(name, line1, line2, record);
  if (result != ElementSetResult::Ok) return result;
  out.name = record.name.Get();
  out.elements = record.Elements();
  out.downlink = DownlinkPlanFor(out.name);
  return ElementSetResult::Ok;
}

ElementSetResult FindTrueSatellite(const std::filesystem::path& elementsFile, std::string_view name,
                                   TrueSatellite& out) {
  SatelliteRecord record;
  ElementSetResult result = FindElementSet(elementsFile, name, record);
  if (result != ElementSetResult::Ok) return result;
  out.name = record.name.Get();
  out.elements = record.Elements();
  out.downlink = DownlinkPlanFor(out.name);
  return ElementSetResult::Ok;
}

SkyLook LookFrom(const TrueSatellite& satellite, const StationConfig& station, double utcSeconds) {
  ElementSet elements = satellite.elements;
  double tsince = Tsince(utcSeconds, elements.epochMinutes);
  StateVector state;
  Propagate(tsince, elements, state);
  LookAngles look = ComputeLookAngles(tsince, elements.epoch1950Minutes, state.position, station);
  return SkyLook{DisplayDegrees(look.azimuth), DisplayDegrees(look.elevation),
                 look.range * kEarthRadiusKm};
}

std::optional<double> FirstAos(std::span<const TrueSatellite> satellites,
                               const TrueStation& station, double fromSeconds,
                               double minimumElevationDeg, double spanSeconds) {
  StationConfig config = MakeStationConfig(station);
  std::optional<double> first;
  for (const TrueSatellite& satellite : satellites) {
    double until = first ? std::min(*first, fromSeconds + spanSeconds) : fromSeconds + spanSeconds;
    std::optional<double> rise =
        FirstRise(satellite, config, fromSeconds, until, minimumElevationDeg);
    if (rise && (!first || *rise < *first)) first = rise;
  }
  return first;
}

Sky::Sky(Clock& clock, SkyOptions options)
    : clock_(clock), options_(options), station_(MakeStationConfig(trueStation_)) {}

ElementSetResult Sky::AddSatellite(std::string_view name, std::string_view line1,
                                   std::string_view line2) {
  TrueSatellite satellite;
  ElementSetResult result = MakeTrueSatellite(name, line1, line2, satellite);
  if (result == ElementSetResult::Ok) AddSatellite(satellite);
  return result;
}

ElementSetResult Sky::AddSatelliteFrom(const std::filesystem::path& elementsFile,
                                       std::string_view name) {
  TrueSatellite satellite;
  ElementSetResult result = FindTrueSatellite(elementsFile, name, satellite);
  if (result == ElementSetResult::Ok) AddSatellite(satellite);
  return result;
}

void Sky::AddSatellite(const TrueSatellite& satellite) {
  std::lock_guard lock(mutex_);
  flying_.push_back(Flying{satellite, {}, 0, -1});
  lookMs_ = std::numeric_limits<std::int64_t>::min();
}

std::vector<TrueSatellite> Sky::Satellites() const {
  std::lock_guard lock(mutex_);
  std::vector<TrueSatellite> out;
  for (const Flying& f : flying_) out.push_back(f.satellite);
  return out;
}

void Sky::SetStation(double latitudeDeg, double longitudeDeg, double heightFeet) {
  TrueStation station{latitudeDeg, longitudeDeg, heightFeet};
  StationConfig config = MakeStationConfig(station);
  std::lock_guard lock(mutex_);
  trueStation_ = station;
  station_ = config;
  lookMs_ = std::numeric_limits<std::int64_t>::min();
  for (Flying& f : flying_) f.passSet = -1;
}

TrueStation Sky::Station() const {
  std::lock_guard lock(mutex_);
  return trueStation_;
}

void Sky::AddFade(double startSeconds, double endSeconds) {
  std::lock_guard lock(mutex_);
  fades_.push_back(Fade{startSeconds, endSeconds});
}

std::optional<SkyLook> Sky::Look(std::string_view name, double utcSeconds) const {
  std::lock_guard lock(mutex_);
  for (const Flying& f : flying_)
    if (EqualsIgnoreCase(f.satellite.name, name))
      return LookFrom(f.satellite, station_, utcSeconds);
  return std::nullopt;
}

std::optional<double> Sky::NextAos(double fromSeconds, double minimumElevationDeg,
                                   double spanSeconds) const {
  std::vector<TrueSatellite> satellites = Satellites();
  return FirstAos(satellites, Station(), fromSeconds, minimumElevationDeg, spanSeconds);
}

void Sky::PointAntenna(double azimuthDeg, double elevationDeg) {
  std::lock_guard lock(mutex_);
  beamAzimuthDeg_ = azimuthDeg;
  beamElevationDeg_ = elevationDeg;
}

void Sky::TuneReceiver(double frequencyMHz, int mode) {
  std::lock_guard lock(mutex_);
  tunedMHz_ = frequencyMHz;
  tunedMode_ = mode;
}

void Sky::UpdateLooks(std::int64_t nowMs) {
  if (nowMs == lookMs_) return;  // the boards ask many times per simulated instant
  double t = SecondsOfMs(nowMs);
  // Satellites the receiver can never pick up (no downlink) are not worth a propagation.
  for (Flying& f : flying_)
    if (f.satellite.downlink.frequencyMHz > 0) f.look = LookFrom(f.satellite, station_, t);
  lookMs_ = nowMs;
}

double Sky::AlongTrack(Flying& flying, double t) const {
  const double threshold = options_.horizonDeg;
  if (!(flying.passRise <= t && t <= flying.passSet)) {
    // Walk out from `t` to both horizon crossings of the pass the satellite is in.
    double above = t;
    double notAbove = t - 10;
    while (ElevationDeg(flying.satellite, station_, notAbove) > threshold &&
           t - notAbove < kLongestPass) {
      above = notAbove;
      notAbove -= 10;
    }
    flying.passRise = RefineCrossing(flying.satellite, station_, above, notAbove, threshold);
    above = t;
    notAbove = t + 10;
    while (ElevationDeg(flying.satellite, station_, notAbove) > threshold &&
           notAbove - t < kLongestPass) {
      above = notAbove;
      notAbove += 10;
    }
    flying.passSet = RefineCrossing(flying.satellite, station_, above, notAbove, threshold);
    flying.passRise = std::min(flying.passRise, t);
    flying.passSet = std::max(flying.passSet, t);
  }
  double length = flying.passSet - flying.passRise;
  if (length <= 0) return 0.5;
  return std::clamp((t - flying.passRise) / length, 0.0, 1.0);
}

double Sky::LevelAt(double elevationDeg) const {
  double s = std::sin(Radians(std::clamp(elevationDeg, 0.0, 90.0)));
  double level = options_.levelAtHorizonVolts +
                 (options_.levelAtZenithVolts - options_.levelAtHorizonVolts) * std::sqrt(s);
  return std::clamp(level, 0.0, 9.999);
}

double Sky::BitErrorRateAt(double level) const {
  double atHorizon = options_.bitErrorRateAtHorizon;
  double atZenith = options_.bitErrorRateAtZenith;
  if (atHorizon <= 0 || atZenith <= 0) return 0;
  double span = options_.levelAtZenithVolts - options_.levelAtHorizonVolts;
  double x = span > 0 ? std::clamp((level - options_.levelAtHorizonVolts) / span, 0.0, 1.0) : 1.0;
  return atHorizon * std::pow(atZenith / atHorizon, x);
}

DownlinkView Sky::Downlink() {
  std::lock_guard lock(mutex_);
  std::int64_t nowMs = clock_.Now().AsMilliseconds();
  double t = SecondsOfMs(nowMs);
  DownlinkView view;
  for (const Fade& fade : fades_)
    if (fade.start <= t && t < fade.end) return view;
  UpdateLooks(nowMs);

  const double beamAz = Radians(beamAzimuthDeg_);
  const double beamEl = Radians(beamElevationDeg_);
  const double cosBeamWidth = std::cos(Radians(options_.beamHalfWidthDeg));
  Flying* best = nullptr;
  for (Flying& f : flying_) {
    const DownlinkPlan& plan = f.satellite.downlink;
    if (plan.frequencyMHz <= 0) continue;
    if (!(f.look.elevationDeg > options_.horizonDeg)) continue;
    if (std::fabs(tunedMHz_ - plan.frequencyMHz) > options_.tuningToleranceMHz) continue;
    if (tunedMode_ != plan.mode) continue;
    // Angle between the beam axis and the satellite on the sky.
    double az = Radians(f.look.azimuthDeg);
    double el = Radians(f.look.elevationDeg);
    double cosOffset =
        std::sin(beamEl) * std::sin(el) + std::cos(beamEl) * std::cos(el) * std::cos(az - beamAz);
    if (cosOffset < cosBeamWidth) continue;
    if (!best || f.look.elevationDeg > best->look.elevationDeg) best = &f;
  }
  if (!best) return view;

  view.receivable = true;
  view.signalLevelVolts = LevelAt(best->look.elevationDeg);
  view.satelliteName = best->satellite.name;
  view.family = best->satellite.downlink.family;
  view.elevationDeg = best->look.elevationDeg;
  view.bitErrorRate = BitErrorRateAt(view.signalLevelVolts);
  view.alongTrack = AlongTrack(*best, t);
  view.elements = best->satellite.elements;
  return view;
}

}  // namespace halvik::sim
