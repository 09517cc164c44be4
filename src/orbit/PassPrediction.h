#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "orbit/SatelliteTable.h"
#include "orbit/Sgp4.h"
#include "orbit/StationConfig.h"
#include "orbit/StationGeometry.h"
#include "platform/Clock.h"
#include "platform/Shared.h"
#include "platform/Units.h"

namespace halvik {

// What EvaluatePass tells the antenna scheduling and the capture hand-off about the pass of the
// satellite about to be followed. Written by the tracking thread; the scheduling clears
// PassEvaluated to ask for a new evaluation.
struct PassEvaluation {
  Shared<std::int32_t> PassNorthbound{0};  // 1: sub-satellite latitude grows from start to end
  Shared<std::int32_t> FlipPass{0};        // 1: the azimuth changes its direction of change
  Shared<std::int32_t> PassEvaluated{0};   // 1 after every EvaluatePass
};

// About one revolution a day: such a satellite hangs over one longitude and has no passes.
inline constexpr double kGeosynchronousMeanMotion = 0.00437;  // rad/min
inline constexpr double kGeosynchronousTolerance = 1e-5;      // rad/min
bool IsGeosynchronous(double meanMotion);

// Trial-time span after which FindAos gives up (aosTime 0): two days. A low orbit that can be
// seen from the station at all comes into view at least once a day.
inline constexpr double kAosSearchSpanMinutes = 2880.0;
// FindLos gives up (losTime 0) after a day above the minimum elevation.
inline constexpr double kLosSearchSpanMinutes = 1440.0;
// A slot whose element set lies further than this from the present time (ten years, minutes)
// has no pass: propagated that far the set no longer says where the satellite is.
inline constexpr double kPredictionHorizonMinutes = 3652.5 * 1440.0;

// The end of year 9999 UTC, s since 1970: no stored time lies beyond it.
inline constexpr double kLatestStoredTime = 253402300800.0;

// A found time as the table stores it: whole seconds since 1970 on the corrected clock, 64 bits
// wide, so passes after 2038-01-19 are times like any other.
std::int64_t StoredTime(double tsince, double epochMinutes);
// A search's result as a slot keeps it in aosTime / losTime: the time, 0 when none was found,
// -1 for a geosynchronous satellite.
std::int64_t SlotTime(const std::optional<std::int64_t>& found, bool geosynchronous);
// A stored time as minutes since the element set's epoch.
double TsinceOf(std::int64_t storedTime, double epochMinutes);

// FlipPass rule on azimuths in degrees, [0, 360), at the start, middle and end of a pass: true
// when exactly one of the two changes is negative (zero counts as not negative).
bool AzimuthReverses(double startDeg, double midDeg, double endDeg);

// An angle in whole degrees, rounded half away from zero.
std::int32_t WholeDegrees(double radians);

// Age of an element set in days at a UTC time (seconds since 1970).
double ElementAgeDays(double utcSeconds, double epochMinutes);
// An element set older than this draws a warning. SGP4's error for a low orbit grows by a few
// km a day from the epoch, mostly along the track: after two weeks it is some tens of km, the
// pass times are off by several seconds and the predicted direction drifts off the narrow beam
// of a small dish at L-band while the satellite is high; past that the sets must be renewed.
inline constexpr double kStaleElementAgeDays = 14.0;
// Whether an element set predicts anything at a UTC time: within kPredictionHorizonMinutes of
// its epoch.
bool WithinPredictionHorizon(double utcSeconds, double epochMinutes);
// The text that says no listed satellite can be predicted.
inline constexpr const char* kNothingPredictableMessage =
    "No listed satellite can be predicted: every element set is more than ten years from the "
    "station clock";
// True when at least one slot is active and none of them is within the prediction horizon.
bool NothingPredictable(const SatelliteTable& table, double utcSeconds);
// The largest age among the active slots; nothing when no slot is active.
std::optional<double> OldestElementAgeDays(const SatelliteTable& table, double utcSeconds);

// The pass searches on a private copy of one satellite's elements: every trial propagation
// lands here, never in a slot of the table. The station is copied too, so one search sees one
// station even while the user-interface thread replaces it.
class PassSearch {
 public:
  PassSearch(const ElementSet& elements, const StationConfig& station, Sgp4Cache& cache);

  // Propagates to `tsince` (minutes since epoch) and returns the look angles; the state vector
  // and sub-satellite point of that time are then available below.
  LookAngles Look(double tsince);
  SubSatellitePoint SubSatellite(double tsince) const;  // of the last Look at that tsince
  const StateVector& state() const { return state_; }

  // First time to the second at which the elevation rises above the minimum elevation, from
  // `start` (where it should be below): the stored time, or nothing when none lies within
  // kAosSearchSpanMinutes. A geosynchronous satellite is not searched (see SlotTime).
  std::optional<std::int64_t> FindAos(double start);
  // First time, to 0.01 minute, at which the elevation falls below the minimum elevation, from
  // `start` (where it should be at or above): the stored time, or nothing when it stays up for
  // kLosSearchSpanMinutes.
  std::optional<std::int64_t> FindLos(double start);

  // Direction and azimuth reversal of the pass from `start` to `end` (minutes since epoch).
  struct Shape {
    bool northbound = false;
    bool flip = false;
  };
  Shape EvaluateShape(double start, double end);

  const ElementSet& elements() const { return elements_; }
  double minimumElevation() const { return minimumElevation_; }
  std::int64_t propagations() const { return propagations_; }

 private:
  ElementSet elements_;
  StationConfig station_;
  double minimumElevation_;
  Sgp4Cache& cache_;
  StateVector state_;
  std::int64_t propagations_ = 0;
};

// One pass for a listing, found with exactly the station's searches.
struct PassTimes {
  bool found = false;           // false: no AOS within the search span, or geosynchronous
  bool geosynchronous = false;  // no passes at all: the satellite hangs over one longitude
  bool inProgress = false;      // already above the minimum elevation at the start time
  std::int64_t aosTime = 0;     // stored time; for a pass under way, the start time (truncated)
  std::int64_t losTime = 0;     // stored time; 0 when it stays up for a day
  double maxElevation = 0;      // rad, sampled every second between AOS and LOS
  std::int64_t maxElevationTime = 0;
  double aosAzimuth = 0;  // rad
  double losAzimuth = 0;  // rad
  bool northbound = false;
  bool flip = false;
  std::int64_t propagations = 0;  // trial propagations spent on this pass
};

// The next pass at or after `startTsince` for a listing: when the satellite is above the
// minimum elevation there, the pass under way and FindLos from there; else FindAos from there,
// then FindLos from one minute after the AOS, as EvaluatePass does; direction and flip as
// EvaluatePass computes them. For the following pass call again from
// TsinceOf(losTime + 1, epochMinutes).
PassTimes FindNextPass(const ElementSet& elements, const StationConfig& station,
                       double startTsince);

// The records the pass prediction works on.
struct PredictionContext {
  SatelliteTable& table;
  StationConfig& station;
  Clock& clock;
  const Shared<double>& clockCorrection;  // s, GPS time minus computer time
  const Shared<std::int32_t>& schedulerEnabled;
  PassEvaluation& pass;
  std::function<void()> scheduleAntenna;  // the satellite selection; empty: nothing to hand over
  // Shows a list command's refusal that only the install could find; empty: not shown.
  std::function<void(const std::string&)> showMessage;
};

// The tracking thread's pass prediction: one slot per PredictionStep, in slot order.
class PassPredictor {
 public:
  explicit PassPredictor(PredictionContext context);

  // Advances to the next slot (0, 1, ..., 5, 0, ...) and, when it is active, updates its
  // position, look angles, display values and pass state at the present time of the corrected
  // clock; then hands over to the scheduling once it is enabled.
  void PredictionStep();
  // Searches from `start` (minutes since the slot's epoch) and stores the slot's aosTime /
  // losTime (and geosynchronous).
  void FindAos(double start, int slot);
  void FindLos(double start, int slot);
  // Direction and flip of the coming or current pass of `slot` into the PassEvaluation.
  void EvaluatePass(int slot);

  // Trial propagations made so far (searches, evaluations and steps).
  std::int64_t propagations() const { return propagations_; }

 private:
  double PresentTsince(const SatelliteRecord& slot);
  PassSearch SearchFor(int slot, const ElementSet& elements);

  PredictionContext context_;
  int nextSlot_ = 0;
  std::array<Sgp4Cache, kSlotCount> caches_;
  std::int64_t propagations_ = 0;
};

}  // namespace halvik
