#include "orbit/PassPrediction.h"

#include <cmath>
#include <utility>

namespace halvik {
namespace {

constexpr double kFarBelowHorizon = -0.35;  // rad, about -20 degrees
constexpr double kFarStepMinutes = 10.0;
constexpr double kNearStepMinutes = 1.0;
constexpr double kAosFineStepMinutes = 1.0 / 60;
constexpr double kLosStepMinutes = 0.5;
constexpr double kLosFineStepMinutes = 0.01;
// The fine LOS search ends within 0.5 / 0.01 steps; the cap only guards against a sample that
// would not repeat its own result.
constexpr int kLosFineStepLimit = 100;
// EvaluatePass looks for the end of a coming pass from a minute after its AOS, where the
// satellite is surely up (the stored AOS is truncated and may lie just before the rise).
constexpr double kLosAfterAosMinutes = 1.0;

// Every search loop counts its samples as well as comparing times: far from the epoch (or with a
// time that is not a number) adding a step to a double may change nothing, and a loop bounded
// only by time would then never end. Each limit is the loop's span in its smallest step, with
// room to spare; a sound search never reaches it.
constexpr int kAosSampleLimit = static_cast<int>(2 * kAosSearchSpanMinutes / kNearStepMinutes) + 4;
constexpr int kAosFineSampleLimit = static_cast<int>(2 * kNearStepMinutes / kAosFineStepMinutes);
constexpr int kLosSampleLimit = static_cast<int>(kLosSearchSpanMinutes / kLosStepMinutes) + 4;
constexpr int kMaxElevationSampleLimit = static_cast<int>(kLosSearchSpanMinutes * 60) + 120;

// A time a search found, when it can be stored.
std::optional<std::int64_t> Found(double tsince, double epochMinutes) {
  const std::int64_t stored = StoredTime(tsince, epochMinutes);
  return stored > 0 ? std::optional<std::int64_t>(stored) : std::nullopt;
}

}  // namespace

bool IsGeosynchronous(double meanMotion) {
  return std::fabs(meanMotion - kGeosynchronousMeanMotion) < kGeosynchronousTolerance;
}

std::int64_t StoredTime(double tsince, double epochMinutes) {
  const double seconds = std::trunc((tsince + epochMinutes) * kSecondsPerMinute);
  // Before 1970 (or not a number) there is no time to store; the bound above keeps the
  // conversion defined and lies far beyond any element set's reach.
  if (!(seconds >= 1.0 && seconds < kLatestStoredTime)) return 0;
  return static_cast<std::int64_t>(seconds);
}

std::int64_t SlotTime(const std::optional<std::int64_t>& found, bool geosynchronous) {
  return geosynchronous ? -1 : found.value_or(0);
}

double TsinceOf(std::int64_t storedTime, double epochMinutes) {
  return Tsince(static_cast<double>(storedTime), epochMinutes);
}

bool AzimuthReverses(double startDeg, double midDeg, double endDeg) {
  const bool firstFalls = midDeg - startDeg < 0;
  const bool secondFalls = endDeg - midDeg < 0;
  return firstFalls != secondFalls;
}

std::int32_t WholeDegrees(double radians) {
  const auto n =
      static_cast<std::int32_t>(std::trunc(std::fabs(radians) * kDisplayDegreesPerRadian + 0.5));
  return radians < 0 ? -n : n;
}

double ElementAgeDays(double utcSeconds, double epochMinutes) {
  return utcSeconds / kSecondsPerDay - epochMinutes / kMinutesPerDay;
}

bool WithinPredictionHorizon(double utcSeconds, double epochMinutes) {
  return std::fabs(Tsince(utcSeconds, epochMinutes)) <= kPredictionHorizonMinutes;
}

bool NothingPredictable(const SatelliteTable& table, double utcSeconds) {
  bool anyActive = false;
  for (const SatelliteRecord& slot : table) {
    if (!slot.IsActive()) continue;
    anyActive = true;
    if (WithinPredictionHorizon(utcSeconds, slot.epochMinutes)) return false;
  }
  return anyActive;
}

std::optional<double> OldestElementAgeDays(const SatelliteTable& table, double utcSeconds) {
  std::optional<double> oldest;
  for (const SatelliteRecord& slot : table) {
    if (!slot.IsActive()) continue;
    const double age = ElementAgeDays(utcSeconds, slot.epochMinutes);
    if (!oldest || age > *oldest) oldest = age;
  }
  return oldest;
}

// --- PassSearch ---

PassSearch::PassSearch(const ElementSet& elements, const StationConfig& station, Sgp4Cache& cache)
    : elements_(elements),
      station_(station),
      minimumElevation_(station.minimumElevation),
      cache_(cache) {}

LookAngles PassSearch::Look(double tsince) {
  cache_.Propagate(tsince, elements_, state_);
  ++propagations_;
  return ComputeLookAngles(tsince, elements_.epoch1950Minutes, state_.position, station_);
}

SubSatellitePoint PassSearch::SubSatellite(double tsince) const {
  return ComputeSubSatellitePoint(tsince, elements_.epoch1950Minutes, state_.position);
}

std::optional<std::int64_t> PassSearch::FindAos(double start) {
  double x = start;
  double step = 0;
  for (int samples = 0; x - start <= kAosSearchSpanMinutes && samples < kAosSampleLimit;
       ++samples) {
    const double elevation = Look(x).elevation;
    if (elevation > minimumElevation_) {
      // Back to the last sample below the minimum.
      x -= step;
      if (step <= kNearStepMinutes) {
        // Second by second from there to the rise.
        for (int fine = 0; x - start <= kAosSearchSpanMinutes && fine < kAosFineSampleLimit;
             ++fine) {
          if (Look(x).elevation > minimumElevation_) return Found(x, elements_.epochMinutes);
          x += kAosFineStepMinutes;
        }
        return std::nullopt;
      }
      // After a 10-minute step the approach is repeated in 1-minute steps.
      x += kNearStepMinutes;
    }
    // Far below the horizon a satellite needs minutes to come up: take long strides there.
    step = elevation < kFarBelowHorizon ? kFarStepMinutes : kNearStepMinutes;
    x += step;
  }
  return std::nullopt;
}

std::optional<std::int64_t> PassSearch::FindLos(double start) {
  double b = start;
  for (int samples = 0; samples < kLosSampleLimit; ++samples) {
    if (Look(b).elevation < minimumElevation_) {
      const double coarse = b;
      b -= kLosStepMinutes;
      for (int i = 0; i < kLosFineStepLimit; ++i) {
        if (Look(b).elevation < minimumElevation_) return Found(b, elements_.epochMinutes);
        b += kLosFineStepMinutes;
      }
      return Found(coarse, elements_.epochMinutes);
    }
    b += kLosStepMinutes;
    if (b - start > kLosSearchSpanMinutes) return std::nullopt;
  }
  return std::nullopt;
}

PassSearch::Shape PassSearch::EvaluateShape(double start, double end) {
  const double azimuthStart = Look(start).azimuth * kDisplayDegreesPerRadian;
  const double latitudeStart = SubSatellite(start).latitude * kDisplayDegreesPerRadian;
  const double mid = start + (end - start) * 0.5;
  const double azimuthMid = Look(mid).azimuth * kDisplayDegreesPerRadian;
  const double azimuthEnd = Look(end).azimuth * kDisplayDegreesPerRadian;
  const double latitudeEnd = SubSatellite(end).latitude * kDisplayDegreesPerRadian;
  return Shape{latitudeEnd - latitudeStart > 0,
               AzimuthReverses(azimuthStart, azimuthMid, azimuthEnd)};
}

// --- Listing ---

PassTimes FindNextPass(const ElementSet& elements, const StationConfig& station,
                       double startTsince) {
  PassTimes pass;
  if (IsGeosynchronous(elements.meanMotion)) {
    pass.geosynchronous = true;
    return pass;
  }
  Sgp4Cache cache;
  PassSearch search(elements, station, cache);
  const double epoch = elements.epochMinutes;
  double aos;
  if (search.Look(startTsince).elevation > search.minimumElevation()) {
    pass.inProgress = true;
    pass.aosTime = StoredTime(startTsince, epoch);
    aos = startTsince;
    pass.losTime = search.FindLos(startTsince).value_or(0);
  } else {
    const std::optional<std::int64_t> found = search.FindAos(startTsince);
    if (!found) {
      pass.propagations = search.propagations();
      return pass;
    }
    pass.aosTime = *found;
    aos = TsinceOf(pass.aosTime, epoch);
    pass.losTime = search.FindLos(aos + kLosAfterAosMinutes).value_or(0);
  }
  pass.found = true;
  pass.aosAzimuth = search.Look(aos).azimuth;
  if (pass.losTime > 0) {
    const double los = TsinceOf(pass.losTime, epoch);
    pass.losAzimuth = search.Look(los).azimuth;
    pass.maxElevation = -kTwoPi;
    int samples = 0;
    for (double t = aos; t <= los && samples < kMaxElevationSampleLimit; t += 1.0 / 60, ++samples) {
      const double elevation = search.Look(t).elevation;
      if (elevation > pass.maxElevation) {
        pass.maxElevation = elevation;
        pass.maxElevationTime = StoredTime(t, epoch);
      }
    }
    PassSearch::Shape shape = search.EvaluateShape(TsinceOf(pass.aosTime, epoch), los);
    pass.northbound = shape.northbound;
    pass.flip = shape.flip;
  }
  pass.propagations = search.propagations();
  return pass;
}

// --- PassPredictor ---

PassPredictor::PassPredictor(PredictionContext context) : context_(std::move(context)) {}

double PassPredictor::PresentTsince(const SatelliteRecord& slot) {
  const SystemTime now = context_.clock.Now();
  return static_cast<double>(now.seconds) / 60.0 + now.milliseconds / 60000.0 +
         context_.clockCorrection / 60.0 - slot.epochMinutes;
}

PassSearch PassPredictor::SearchFor(int slot, const ElementSet& elements) {
  return PassSearch(elements, context_.station, caches_[static_cast<std::size_t>(slot)]);
}

void PassPredictor::FindAos(double start, int slot) {
  SatelliteRecord& record = context_.table[static_cast<std::size_t>(slot)];
  const ElementSet elements = record.Elements();
  PassSearch search = SearchFor(slot, elements);
  const bool geosynchronous = IsGeosynchronous(elements.meanMotion);
  const std::optional<std::int64_t> aos = geosynchronous ? std::nullopt : search.FindAos(start);
  propagations_ += search.propagations();
  record.aosTime = SlotTime(aos, geosynchronous);
  if (geosynchronous) record.geosynchronous = 1;
}

void PassPredictor::FindLos(double start, int slot) {
  SatelliteRecord& record = context_.table[static_cast<std::size_t>(slot)];
  const ElementSet elements = record.Elements();
  PassSearch search = SearchFor(slot, elements);
  const bool geosynchronous = IsGeosynchronous(elements.meanMotion);
  const std::optional<std::int64_t> los = geosynchronous ? std::nullopt : search.FindLos(start);
  propagations_ += search.propagations();
  record.losTime = SlotTime(los, geosynchronous);
  if (geosynchronous) record.geosynchronous = 1;
}

void PassPredictor::PredictionStep() {
  // Between two steps the other threads' changes of the table come in, so that within a step
  // the slot holds one satellite throughout.
  for (const std::string& refused : InstallSlotUpdates(context_.table)) {
    if (context_.showMessage) context_.showMessage(refused);
  }
  const int index = nextSlot_;
  nextSlot_ = (nextSlot_ + 1) % kSlotCount;
  SatelliteRecord& slot = context_.table[static_cast<std::size_t>(index)];
  if (!slot.IsActive()) return;

  const ElementSet elements = slot.Elements();
  const double tsince = PresentTsince(slot);
  PassSearch search = SearchFor(index, elements);
  const LookAngles look = search.Look(tsince);
  const StateVector state = search.state();
  const SubSatellitePoint point = search.SubSatellite(tsince);
  const double minimum = search.minimumElevation();
  const double e = look.elevation;

  // The pass searches run on the search's own copy; the slot gets only their results.
  enum class Search { None, Aos, Los } ran = Search::None;
  std::optional<std::int64_t> found;
  const bool geosynchronous = IsGeosynchronous(elements.meanMotion);
  const bool aosPending = slot.aosPending != 0;
  const bool inPass = slot.inPass != 0;
  // Both flags set means "up, but no LOS within a day"; once such a satellite is down, its next
  // AOS is searched as for any other, or the slot would claim a pass for ever.
  // An element set says nothing about where its satellite is decades from its epoch. A computer
  // that booted with its clock at 1970 predicts from there until the GPS sets its clock, and
  // must not follow (and hold the antenna for) a pass that is not there.
  const bool beyondHorizon = !(std::fabs(tsince) <= kPredictionHorizonMinutes);
  if (beyondHorizon) {
    ran = Search::None;
  } else if (e < minimum && (!aosPending || inPass)) {
    if (!geosynchronous) found = search.FindAos(tsince);
    ran = Search::Aos;
  } else if (e > minimum && !inPass) {
    if (!geosynchronous) found = search.FindLos(tsince);
    ran = Search::Los;
  }
  propagations_ += search.propagations();

  // The propagator's estimate of a B* of 0 stays with the set.
  slot.bstar = search.elements().bstar;
  for (int i = 0; i < 3; ++i) {
    slot.position[i] = state.position[i];
    slot.velocity[i] = state.velocity[i];
  }
  slot.subSatellite[0] = point.longitude;
  slot.subSatellite[1] = point.latitude;
  slot.subSatellite[2] = point.distance;
  slot.lookAngles[0] = look.azimuth;
  slot.lookAngles[1] = look.elevation;
  slot.lookAngles[2] = look.range;

  if (ran == Search::Aos) {
    slot.aosTime = SlotTime(found, geosynchronous);
    if (geosynchronous) slot.geosynchronous = 1;
    if (found) {
      slot.inPass = 0;
      slot.aosPending = 1;
    } else if (aosPending && inPass) {
      slot.aosPending = 0;
      slot.inPass = 0;
    }
  } else if (ran == Search::Los) {
    slot.losTime = SlotTime(found, geosynchronous);
    if (geosynchronous) slot.geosynchronous = 1;
    if (found) {
      slot.aosPending = 0;
      slot.inPass = 1;
    } else {
      slot.aosPending = 1;
      slot.inPass = 1;
    }
  }

  if (beyondHorizon) {
    slot.aosPending = 0;
    slot.inPass = 0;
    slot.aosTime = 0;
    slot.losTime = 0;
  }

  slot.latitudeDeg = WholeDegrees(point.latitude);
  slot.longitudeDeg = WholeDegrees(point.longitude);
  slot.azimuthDeg = look.azimuth * kDisplayDegreesPerRadian;
  slot.elevationDeg = look.elevation * kDisplayDegreesPerRadian;

  if (context_.schedulerEnabled != 0 && context_.scheduleAntenna) context_.scheduleAntenna();
}

void PassPredictor::EvaluatePass(int slotIndex) {
  SatelliteRecord& slot = context_.table[static_cast<std::size_t>(slotIndex)];
  PassEvaluation& pass = context_.pass;
  if (!slot.IsActive() || slot.geosynchronous != 0) {
    pass.FlipPass = 0;
    pass.PassEvaluated = 1;
    return;
  }
  const ElementSet elements = slot.Elements();
  const double epoch = elements.epochMinutes;
  const bool aosPending = slot.aosPending != 0;
  const bool inPass = slot.inPass != 0;
  PassSearch search = SearchFor(slotIndex, elements);

  bool known = false;
  double start = 0;
  std::int64_t losTime = slot.losTime;
  const std::int64_t aosTime = slot.aosTime;
  // With both flags set the satellite is up with no LOS within a day: there is no coming pass
  // whose end a search from its (old) AOS could renew.
  if (aosPending && !inPass && aosTime > 0) {
    start = TsinceOf(aosTime, epoch);
    losTime = SlotTime(search.FindLos(start + kLosAfterAosMinutes),
                       IsGeosynchronous(elements.meanMotion));
    slot.losTime = losTime;
    known = true;
  }
  if (inPass) {
    const SystemTime now = context_.clock.Now();
    const double corrected =
        std::trunc(static_cast<double>(now.seconds) + context_.clockCorrection);
    start = Tsince(corrected, epoch);
    known = true;
  }
  if (!known) {
    // No pass known yet: nothing to evaluate. Ask again on the next call, and do not flip.
    propagations_ += search.propagations();
    pass.FlipPass = 0;
    return;
  }
  if (losTime <= 0) {
    // Up for more than a day: no end to reach, so no reversal to prepare for.
    propagations_ += search.propagations();
    pass.PassNorthbound = 0;
    pass.FlipPass = 0;
    pass.PassEvaluated = 1;
    return;
  }
  const PassSearch::Shape shape = search.EvaluateShape(start, TsinceOf(losTime, epoch));
  propagations_ += search.propagations();
  pass.PassNorthbound = shape.northbound ? 1 : 0;
  pass.FlipPass = shape.flip ? 1 : 0;
  pass.PassEvaluated = 1;
}

}  // namespace halvik
