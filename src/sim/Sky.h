#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "orbit/ElementSet.h"
#include "orbit/SatelliteTable.h"
#include "orbit/StationConfig.h"
#include "platform/Clock.h"
#include "sim/SkyLink.h"

namespace halvik::sim {

// What a satellite broadcasts: its HRPT carrier, the receiver mode that demodulates it and the
// frame format it carries.
struct DownlinkPlan {
  double frequencyMHz = 0;  // 0: nothing the station's receiver can pick up
  int mode = 3;             // receiver mode command number
  SatelliteFamily family = SatelliteFamily::Noaa;
};

// The downlink of a satellite by name, as the station's downlink table holds it. Any other name
// has no downlink.
DownlinkPlan DownlinkPlanFor(std::string_view name);

// One satellite as it really flies.
struct TrueSatellite {
  std::string name;
  ElementSet elements;
  DownlinkPlan downlink;
};

// Parse two element lines (or look a name up in an element file) into a TrueSatellite; the
// result is the element set's (ElementSetResult::Ok, ElementSetResult::ChecksumError, ...).
ElementSetResult MakeTrueSatellite(std::string_view name, std::string_view line1,
                                   std::string_view line2, TrueSatellite& out);
ElementSetResult FindTrueSatellite(const std::filesystem::path& elementsFile, std::string_view name,
                                   TrueSatellite& out);

// Where the station really stands.
struct TrueStation {
  double latitudeDeg = 0;   // north positive
  double longitudeDeg = 0;  // east positive
  double heightFeet = 0;
};

// A satellite as seen from the station.
struct SkyLook {
  double azimuthDeg = 0;    // [0, 360) from north through east
  double elevationDeg = 0;  // negative below the horizon
  double rangeKm = 0;
};

// The station geometry of a true station.
StationConfig MakeStationConfig(const TrueStation& station);

SkyLook LookFrom(const TrueSatellite& satellite, const StationConfig& station, double utcSeconds);

// The first time after `fromSeconds` (UTC s since 1970) at which any of the satellites rises
// above `minimumElevationDeg`, found by an elevation scan and refined to a millisecond; a pass
// already running at `fromSeconds` does not count. Nothing when no satellite rises within
// `spanSeconds`.
std::optional<double> FirstAos(std::span<const TrueSatellite> satellites,
                               const TrueStation& station, double fromSeconds,
                               double minimumElevationDeg = 0, double spanSeconds = 2 * 86400.0);

struct SkyOptions {
  double beamHalfWidthDeg = 5.0;     // the antenna hears what lies within this angle of its axis
  double horizonDeg = 0.0;           // the satellite must be higher than this
  double tuningToleranceMHz = 0.1;   // receiver frequency error that still demodulates
  double levelAtHorizonVolts = 2.0;  // signal level at 0 deg elevation ...
  double levelAtZenithVolts = 9.5;   // ... and overhead (at most 9.999)
  double bitErrorRateAtHorizon = 1e-3;
  double bitErrorRateAtZenith = 1e-6;  // either rate 0: a perfect link
};

// The simulated sky: the true satellites, the true station, where the dish looks and what the
// receiver listens to. Every call may come from any thread.
class Sky final : public SkyLink {
 public:
  explicit Sky(Clock& clock, SkyOptions options = {});

  // Satellites: from element lines, from an element file, or ready-made.
  ElementSetResult AddSatellite(std::string_view name, std::string_view line1,
                                std::string_view line2);
  ElementSetResult AddSatelliteFrom(const std::filesystem::path& elementsFile,
                                    std::string_view name);
  void AddSatellite(const TrueSatellite& satellite);
  std::vector<TrueSatellite> Satellites() const;

  void SetStation(double latitudeDeg, double longitudeDeg, double heightFeet);
  TrueStation Station() const;

  // The link is lost from `startSeconds` until just before `endSeconds` (UTC s since 1970).
  void AddFade(double startSeconds, double endSeconds);

  // Where a satellite of the sky stands at a UTC time; nothing for an unknown name.
  std::optional<SkyLook> Look(std::string_view name, double utcSeconds) const;
  // The next AOS over the true station among the sky's satellites (see FirstAos).
  std::optional<double> NextAos(double fromSeconds, double minimumElevationDeg = 0,
                                double spanSeconds = 2 * 86400.0) const;

  Clock& clock() const { return clock_; }

  void PointAntenna(double azimuthDeg, double elevationDeg) override;
  void TuneReceiver(double frequencyMHz, int mode) override;
  DownlinkView Downlink() override;

 private:
  struct Flying {
    TrueSatellite satellite;
    SkyLook look;         // at lookMs_
    double passRise = 0;  // horizon crossings around the latest pass asked about
    double passSet = -1;
  };
  struct Fade {
    double start;
    double end;
  };

  void UpdateLooks(std::int64_t nowMs);
  double AlongTrack(Flying& flying, double t) const;
  double LevelAt(double elevationDeg) const;
  double BitErrorRateAt(double level) const;

  Clock& clock_;
  const SkyOptions options_;
  mutable std::mutex mutex_;
  std::vector<Flying> flying_;
  std::vector<Fade> fades_;
  TrueStation trueStation_;
  StationConfig station_;
  double beamAzimuthDeg_ = 180;
  double beamElevationDeg_ = 90;
  double tunedMHz_ = 0;
  int tunedMode_ = 0;
  std::int64_t lookMs_ =
      std::numeric_limits<std::int64_t>::min();  // the instant the cached looks describe
};

}  // namespace halvik::sim
