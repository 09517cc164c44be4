#include "orbit/PassPrediction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "orbit/ElementSet.h"
#include "orbit/TestElements.h"

namespace halvik {
namespace {

constexpr double kDeg = 0.0174532925199433;
constexpr double kTenthSecond = 0.1 / 60;  // min

// The records of a station with its pass predictor, on a manual clock.
struct Fixture {
  SatelliteTable table;
  StationConfig station;
  ManualClock clock;
  Shared<double> clockCorrection{0.0};
  Shared<std::int32_t> schedulerEnabled{0};
  PassEvaluation pass;
  int scheduled = 0;
  PassPredictor predictor{PredictionContext{
      table, station, clock, clockCorrection, schedulerEnabled, pass, [this] { ++scheduled; }, {}}};

  Fixture(const char* lat = "52.5", const char* lon = "13.4", double minimumDeg = 0.0) {
    SetStation(station, lat, lon, "200");
    station.minimumElevation = minimumDeg * kDeg;
  }
  SatelliteRecord& Load(int slot, const std::string& line1, const std::string& line2) {
    EXPECT_EQ(ParseElementSet("SAT", line1, line2, table[slot]), ElementSetResult::Ok);
    return table[slot];
  }
  // Sets the clock to `tsince` minutes after the epoch of `slot` (to the millisecond).
  void At(const SatelliteRecord& slot, double tsince) {
    clock.Set(SystemTime::FromMilliseconds(
        static_cast<std::int64_t>(std::llround((tsince + slot.epochMinutes) * 60000.0))));
  }
  // Runs PredictionStep until it has visited `slot` (the steps before it pass empty slots).
  void StepSlot(int slot) {
    for (int i = 0; i < kSlotCount; ++i) {
      bool last = nextSlot == slot;
      predictor.PredictionStep();
      nextSlot = (nextSlot + 1) % kSlotCount;
      if (last) return;
    }
  }
  int nextSlot = 0;
};

// Elevation from the station by a path of its own (no PassSearch): propagate and look.
double Elevation(const ElementSet& elements, const StationConfig& station, double tsince) {
  ElementSet e = elements;
  StateVector s;
  Propagate(tsince, e, s);
  return ComputeLookAngles(tsince, e.epoch1950Minutes, s.position, station).elevation;
}

struct Interval {
  double rise;  // min since epoch, to 0.1 s: first tenth-second sample above the minimum
  double set;   // first tenth-second sample below again
};

// Every pass between two times by brute force: 5-second samples, crossings refined to 0.1 s.
std::vector<Interval> BruteForcePasses(const ElementSet& elements, const StationConfig& station,
                                       double from, double to) {
  const double minimum = station.minimumElevation;
  const double coarse = 5.0 / 60;
  std::vector<Interval> passes;
  bool up = Elevation(elements, station, from) > minimum;
  double riseAt = from;
  for (double t = from + coarse; t <= to; t += coarse) {
    bool nowUp = Elevation(elements, station, t) > minimum;
    if (nowUp == up) continue;
    double fine = t - coarse;
    while ((Elevation(elements, station, fine) > minimum) == up) fine += kTenthSecond;
    if (nowUp) {
      riseAt = fine;
    } else {
      passes.push_back({riseAt, fine});
    }
    up = nowUp;
  }
  return passes;
}

// ---------------------------------------------------------------------------------------------

TEST(PassRules, FlipNorthboundAgeAndDegrees) {
  // --- FlipPass: exactly one of the two azimuth changes negative.
  EXPECT_TRUE(AzimuthReverses(350, 355, 10));  // d1 = 5, d2 = -345
  EXPECT_FALSE(AzimuthReverses(100, 150, 200));
  EXPECT_FALSE(AzimuthReverses(200, 150, 100));  // both negative: no reversal
  EXPECT_TRUE(AzimuthReverses(10, 5, 350));
  EXPECT_FALSE(AzimuthReverses(100, 100, 200));  // zero counts as not negative
  EXPECT_TRUE(AzimuthReverses(100, 100, 50));

  // --- Geosynchronous test around 0.00437 rad/min.
  EXPECT_TRUE(IsGeosynchronous(0.00437));
  EXPECT_TRUE(IsGeosynchronous(0.004375));  // GOES 12: 1.00277 rev/day
  EXPECT_FALSE(IsGeosynchronous(0.00439));
  EXPECT_FALSE(IsGeosynchronous(0.0621));  // a 14-revolution orbit

  // --- Whole degrees, half away from zero.
  EXPECT_EQ(WholeDegrees(2.5 * kDeg), 3);
  EXPECT_EQ(WholeDegrees(-2.5 * kDeg), -3);
  EXPECT_EQ(WholeDegrees(-2.4 * kDeg), -2);
  EXPECT_EQ(WholeDegrees(179.6 * kDeg), 180);

  // --- Stored times: whole seconds since 1970, truncated.
  EXPECT_EQ(StoredTime(1.0 / 60 * 0.99, 16713360.0), 1002801600);
  EXPECT_EQ(StoredTime(-1.0 / 600, 16713360.0), 1002801599);
  EXPECT_DOUBLE_EQ(TsinceOf(1002801630, 16713360.0), 0.5);

  // --- Element age: the oldest active slot.
  SatelliteTable table;
  EXPECT_FALSE(OldestElementAgeDays(table, 1.3e9));
  ASSERT_EQ(ParseElementSet("NOAA 15", kNoaa15Line1, kNoaa15Line2, table[2]), ElementSetResult::Ok);
  ASSERT_EQ(ParseElementSet("NOAA 12", kNoaa12Line1, kNoaa12Line2, table[4]), ElementSetResult::Ok);
  const double now = 1249300000.0;  // 2009-08-03 11:46:40 UTC
  EXPECT_NEAR(ElementAgeDays(now, table[2].epochMinutes), (now - 1249290918.86) / 86400, 1e-7);
  EXPECT_NEAR(*OldestElementAgeDays(table, now), (now - 1249290918.86) / 86400, 1e-7);
  table[2].active.store(0);
  EXPECT_NEAR(*OldestElementAgeDays(table, now), ElementAgeDays(now, table[4].epochMinutes), 0);
}

TEST(PassSearch, FindsTheSamePassesAsABruteForceScan) {
  // NOAA 18 from Berlin over a day: every pass, and each AOS and LOS within the searches' own
  // resolution (AOS: first second above, truncated; LOS: first 0.01 minute below, truncated).
  Fixture f("52.5", "13.4", 5.0);
  const ElementSet noaa18 = f.Load(0, kNoaa18Line1, kNoaa18Line2).Elements();
  const double from = 0, to = 1440;
  std::vector<Interval> truth = BruteForcePasses(noaa18, f.station, from, to);
  ASSERT_GE(truth.size(), 4u);

  std::vector<PassTimes> found;
  double start = from;
  while (true) {
    PassTimes pass = FindNextPass(noaa18, f.station, start);
    ASSERT_TRUE(pass.found);
    if (TsinceOf(pass.aosTime, noaa18.epochMinutes) > to) break;
    found.push_back(pass);
    start = TsinceOf(pass.losTime + 1, noaa18.epochMinutes);
  }
  ASSERT_EQ(found.size(), truth.size());
  const double epochSeconds = noaa18.epochMinutes * 60;
  for (std::size_t i = 0; i < truth.size(); ++i) {
    const double rise = truth[i].rise * 60 + epochSeconds;  // s since 1970, to 0.1 s
    const double set = truth[i].set * 60 + epochSeconds;
    EXPECT_GE(found[i].aosTime, std::floor(rise - 0.1)) << i;
    EXPECT_LE(found[i].aosTime, rise + 1.0) << i;
    EXPECT_GE(found[i].losTime, std::floor(set - 0.1) - 1) << i;
    EXPECT_LE(found[i].losTime, set + 0.6) << i;
    EXPECT_FALSE(found[i].inProgress);
    EXPECT_GT(found[i].maxElevation, 5.0 * kDeg);
    EXPECT_LT(found[i].propagations, 3000);  // search, culmination scan included
  }
}

TEST(PassSearch, AosBetweenTwoOneMinuteSamples) {
  Fixture f("52.5", "13.4", 0.0);
  const ElementSet noaa15 = f.Load(0, kNoaa15Line1, kNoaa15Line2).Elements();
  std::vector<Interval> truth = BruteForcePasses(noaa15, f.station, 0, 720);
  ASSERT_FALSE(truth.empty());
  const double rise = truth[0].rise;
  for (double lead : {1.3, 2.75, 3.01}) {
    // Close enough to the rise that the search steps a minute at a time.
    ASSERT_GT(Elevation(noaa15, f.station, rise - lead), -0.35);
    Sgp4Cache cache;
    PassSearch search(noaa15, f.station, cache);
    const std::int64_t aos = search.FindAos(rise - lead).value_or(0);
    const double riseSeconds = (rise + noaa15.epochMinutes) * 60;
    EXPECT_GE(aos, std::floor(riseSeconds - 0.1)) << lead;
    EXPECT_LE(aos, riseSeconds + 1.0) << lead;
    // Coarse minutes up to the rise, then at most 60 one-second samples.
    EXPECT_LE(search.propagations(), static_cast<std::int64_t>(lead) + 2 + 61);
  }
}

TEST(PassSearch, GivesUpOnASatelliteThatNeverRises) {
  // HETE-2 flies 1.95 degrees from the equator: from 60 degrees north it never rises. The
  // search strides 10 minutes at a time far below the horizon and stops after its span.
  StationConfig station;
  SetStation(station, "60", "10", "0");
  station.minimumElevation = 0.0;
  SatelliteRecord slot;
  ASSERT_EQ(ParseElementSet("HETE-2", kHete2Line1, kHete2Line2, slot), ElementSetResult::Ok);
  Sgp4Cache cache;
  PassSearch search(slot.Elements(), station, cache);
  EXPECT_EQ(search.FindAos(0.0), std::nullopt);
  EXPECT_LE(search.propagations(), static_cast<std::int64_t>(kAosSearchSpanMinutes / 10) + 2);

  // From the equator the same search finds its passes.
  SetStation(station, "0", "10", "0");
  PassTimes pass = FindNextPass(slot.Elements(), station, 0.0);
  EXPECT_TRUE(pass.found);
  EXPECT_GT(pass.losTime, pass.aosTime);
}

TEST(PassSearch, EndsWhereAStepNoLongerMovesTheTime) {
  // Far from the epoch (or at a time that is not a number) adding a minute to a double changes
  // nothing; a search bounded only by time never ended there and held the tracking thread.
  StationConfig station;
  SetStation(station, "0", "10", "0");
  SatelliteRecord slot;
  ASSERT_EQ(ParseElementSet("NOAA 15", kNoaa15Line1, kNoaa15Line2, slot), ElementSetResult::Ok);
  ElementSet far = slot.Elements();
  far.epochMinutes = 5e16;
  for (double start : {-5e16, 5e16, std::nan("")}) {
    SCOPED_TRACE(start);
    Sgp4Cache cache;
    PassSearch search(far, station, cache);
    EXPECT_EQ(search.FindAos(start), std::nullopt);
    EXPECT_EQ(search.FindLos(start), std::nullopt);
    // Each loop stops at its count: a day of 1-minute, then of half-minute samples.
    EXPECT_LE(search.propagations(), 2 * 2880 + 4 + 120 + 2880 + 4 + 100);
    const PassTimes pass = FindNextPass(far, station, start);
    EXPECT_LE(pass.propagations, 2 * 2880 + 4 + 120 + 2880 + 4 + 100 + 86520 + 10);
  }
}

TEST(PassSearch, UpForMoreThanADay) {
  // A satellite of 0.00439 rad/min, just faster than the Earth turns, is not geosynchronous
  // for the test but stays up for days: FindLos gives up after 1440 minutes, losTime 0.
  Fixture f("0", "0", 5.0);
  SatelliteRecord& slot = f.Load(0, kGoes12Line1, kGoes12Line2);
  ElementSet e = slot.Elements();
  e.meanMotion = 0.00439;
  e.bstar = 1e-9;
  CopyElements(e, slot);
  // Put the station under the satellite at the step's time.
  StateVector s;
  Propagate(0.0, e, s);
  SubSatellitePoint under = ComputeSubSatellitePoint(0.0, e.epoch1950Minutes, s.position);
  SetStation(f.station, "0", std::to_string(under.longitude / kDeg).c_str(), "0");
  f.At(slot, 0.0);
  f.StepSlot(0);
  EXPECT_EQ(slot.geosynchronous, 0);
  EXPECT_EQ(slot.losTime, 0);
  EXPECT_EQ(slot.aosPending, 1);
  EXPECT_EQ(slot.inPass, 1);
  EXPECT_GT(slot.elevationDeg, 80.0);
  // About 2880 half-minute samples went into it.
  EXPECT_GE(f.predictor.propagations(), 2880);
  EXPECT_LE(f.predictor.propagations(), 2885);

  // Both flags stay while it is up...
  f.At(slot, 60.0);
  f.StepSlot(0);
  EXPECT_EQ(slot.aosPending, 1);
  EXPECT_EQ(slot.inPass, 1);
  // ...and once it is down (the station moved away, flags kept) its next AOS is searched.
  SetStation(f.station, "0", std::to_string(under.longitude / kDeg + 100).c_str(), "0");
  f.StepSlot(0);
  EXPECT_LT(slot.elevationDeg, 0.0);
  EXPECT_TRUE((slot.aosPending == 1 && slot.inPass == 0) ||
              (slot.aosPending == 0 && slot.inPass == 0 && slot.aosTime == 0));
}

TEST(PredictionStep, Geosynchronous) {
  // --- GOES 12 hangs near 75 W: below the horizon from Berlin, above it from Washington.
  Fixture berlin("52.5", "13.4", 0.0);
  SatelliteRecord& goes = berlin.Load(0, kGoes12Line1, kGoes12Line2);
  berlin.At(goes, 10.0);
  berlin.StepSlot(0);
  EXPECT_EQ(goes.geosynchronous, 1);
  EXPECT_EQ(goes.aosTime, -1);
  EXPECT_EQ(goes.aosPending, 0);
  EXPECT_EQ(goes.inPass, 0);
  EXPECT_LE(berlin.predictor.propagations(), 1);  // the cheap test, no search
  berlin.StepSlot(0);
  EXPECT_EQ(goes.aosTime, -1);
  EXPECT_EQ(goes.aosPending, 0);

  Fixture washington("38.9", "-77.0", 5.0);
  SatelliteRecord& up = washington.Load(3, kGoes12Line1, kGoes12Line2);
  washington.At(up, 10.0);
  washington.StepSlot(3);
  EXPECT_GT(up.elevationDeg, 5.0);
  EXPECT_EQ(up.geosynchronous, 1);
  EXPECT_EQ(up.losTime, -1);
  EXPECT_EQ(up.aosPending, 1);
  EXPECT_EQ(up.inPass, 1);

  // --- 0.00437 rad/min is geosynchronous; 0.00439 is searched like any other satellite.
  for (double meanMotion : {0.00437, 0.00439}) {
    Fixture f("52.5", "13.4", 0.0);
    SatelliteRecord& slot = f.Load(1, kGoes12Line1, kGoes12Line2);
    ElementSet e = slot.Elements();
    e.meanMotion = meanMotion;
    CopyElements(e, slot);
    f.At(slot, 10.0);
    f.StepSlot(1);
    if (meanMotion == 0.00437) {
      EXPECT_EQ(slot.geosynchronous, 1);
      EXPECT_EQ(slot.aosTime, -1);
    } else {
      EXPECT_EQ(slot.geosynchronous, 0);
      EXPECT_NE(slot.aosTime, -1);
      EXPECT_GT(f.predictor.propagations(), 100);  // a real search
    }
  }
}

TEST(PredictionStep, UpdatesOneSlotPerCallWithLiveValues) {
  Fixture f("52.5", "13.4", 0.0);
  SatelliteRecord& noaa15 = f.Load(1, kNoaa15Line1, kNoaa15Line2);
  SatelliteRecord& noaa12 = f.Load(4, kNoaa12Line1, kNoaa12Line2);
  f.schedulerEnabled = 1;
  f.At(noaa15, 100.0);
  f.clock.Advance(250);  // milliseconds count too
  f.clockCorrection = 30.0;

  // --- Slot 0 is empty: the call is spent there, nothing handed over.
  f.predictor.PredictionStep();
  EXPECT_EQ(f.scheduled, 0);
  EXPECT_EQ(f.predictor.propagations(), 0);

  // --- Slot 1: the live values describe the corrected present time, not a trial time.
  f.predictor.PredictionStep();
  EXPECT_EQ(f.scheduled, 1);
  // The clock holds whole milliseconds; the correction is added in minutes.
  const SystemTime now = f.clock.Now();
  const double tsince = static_cast<double>(now.seconds) / 60 + now.milliseconds / 60000.0 +
                        30.0 / 60 - noaa15.epochMinutes;
  EXPECT_NEAR(tsince, 100.0 + 0.25 / 60 + 30.0 / 60, 1e-5);
  ElementSet e = noaa15.Elements();
  StateVector s;
  Propagate(tsince, e, s);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(noaa15.position[i], s.position[i], 1e-12);
  LookAngles look = ComputeLookAngles(tsince, e.epoch1950Minutes, s.position, f.station);
  SubSatellitePoint point = ComputeSubSatellitePoint(tsince, e.epoch1950Minutes, s.position);
  EXPECT_NEAR(noaa15.lookAngles[1], look.elevation, 1e-12);
  EXPECT_NEAR(noaa15.subSatellite[0], point.longitude, 1e-12);
  EXPECT_NEAR(noaa15.elevationDeg, look.elevation * kDisplayDegreesPerRadian, 1e-9);
  EXPECT_NEAR(noaa15.azimuthDeg, look.azimuth * kDisplayDegreesPerRadian, 1e-9);
  EXPECT_EQ(noaa15.latitudeDeg, WholeDegrees(point.latitude));
  EXPECT_EQ(noaa15.longitudeDeg, WholeDegrees(point.longitude));
  // Below the horizon from Berlin at that moment, so it now waits for its AOS.
  ASSERT_LT(look.elevation, 0.0);
  EXPECT_EQ(noaa15.aosPending, 1);
  EXPECT_EQ(noaa15.inPass, 0);
  EXPECT_GT(noaa15.aosTime, (noaa15.epochMinutes + tsince) * 60);
  EXPECT_EQ(noaa12.aosTime, 0);  // not visited yet

  // --- Slots 2 and 3 are empty; slot 4 is next; the whole round comes back to slot 1.
  f.predictor.PredictionStep();
  f.predictor.PredictionStep();
  EXPECT_EQ(noaa12.aosTime, 0);
  f.predictor.PredictionStep();
  EXPECT_NE(noaa12.aosTime, 0);
  EXPECT_EQ(f.scheduled, 2);

  // --- Without the scheduler enabled, nothing is handed over.
  f.schedulerEnabled = 0;
  for (int i = 0; i < kSlotCount; ++i) f.predictor.PredictionStep();
  EXPECT_EQ(f.scheduled, 2);
}

TEST(PredictionStep, FollowsAPassThroughItsStates) {
  Fixture f("52.5", "13.4", 5.0);
  SatelliteRecord& slot = f.Load(0, kNoaa18Line1, kNoaa18Line2);
  const ElementSet e = slot.Elements();
  std::vector<Interval> truth = BruteForcePasses(e, f.station, 0, 720);
  ASSERT_FALSE(truth.empty());

  // Below: AOS found, waiting.
  f.At(slot, truth[0].rise - 20);
  f.StepSlot(0);
  EXPECT_EQ(slot.aosPending, 1);
  EXPECT_EQ(slot.inPass, 0);
  const std::int64_t aos = slot.aosTime;
  EXPECT_NEAR(aos, (truth[0].rise + e.epochMinutes) * 60, 1.1);

  // Up: LOS found, in the pass; the next steps during the pass change nothing.
  f.At(slot, truth[0].rise + 1);
  f.StepSlot(0);
  EXPECT_EQ(slot.aosPending, 0);
  EXPECT_EQ(slot.inPass, 1);
  EXPECT_NEAR(slot.losTime, (truth[0].set + e.epochMinutes) * 60, 1.6);
  const std::int64_t los = slot.losTime;
  const std::int64_t before = f.predictor.propagations();
  f.At(slot, truth[0].rise + 3);
  f.StepSlot(0);
  EXPECT_EQ(f.predictor.propagations(), before + 1);
  EXPECT_EQ(slot.losTime, los);

  // Down again: the next AOS.
  f.At(slot, truth[0].set + 0.5);
  f.StepSlot(0);
  EXPECT_EQ(slot.aosPending, 1);
  EXPECT_EQ(slot.inPass, 0);
  ASSERT_GE(truth.size(), 2u);
  EXPECT_NEAR(slot.aosTime, (truth[1].rise + e.epochMinutes) * 60, 1.1);

  // A flag reset (new minimum elevation) makes the next step search again.
  slot.aosPending = 0;
  slot.aosTime = 0;
  f.StepSlot(0);
  EXPECT_EQ(slot.aosPending, 1);
  EXPECT_NEAR(slot.aosTime, (truth[1].rise + e.epochMinutes) * 60, 1.1);
}

TEST(PredictionStep, NoPassDecadesFromTheEpoch) {
  // A computer clock at 1970 and an element set of this century: whatever the propagation gives
  // there, the slot has no pass, so nothing is followed until the clock is set.
  Fixture f("52.5", "13.4", 5.0);
  SatelliteRecord& slot = f.Load(0, kNoaa18Line1, kNoaa18Line2);
  f.clock.Set(SystemTime{0, 0});
  for (int hour = 0; hour < 48; ++hour) {
    f.clock.Advance(3600 * 1000);
    f.StepSlot(0);
    ASSERT_EQ(slot.aosPending + slot.inPass, 0) << "hour " << hour;
    ASSERT_EQ(slot.aosTime, 0);
    ASSERT_EQ(slot.losTime, 0);
  }
  // What the station says of it: nothing listed can be predicted.
  const auto seconds = [&f] { return static_cast<double>(f.clock.Now().seconds); };
  EXPECT_TRUE(NothingPredictable(f.table, seconds()));
  // Near the epoch again, the next step finds the pass state.
  f.At(slot, 0);
  f.StepSlot(0);
  EXPECT_EQ(slot.aosPending + slot.inPass, 1);
  EXPECT_FALSE(NothingPredictable(f.table, seconds()));
  // One slot that predicts is enough; an empty table is no warning of this kind.
  SatelliteTable none;
  EXPECT_FALSE(NothingPredictable(none, 0.0));
  // The horizon is ten years either side of the epoch, the bound included.
  const double epoch = slot.epochMinutes;
  for (const auto& [days, within] : std::vector<std::pair<double, bool>>{
           {0.0, true}, {3652.5, true}, {-3652.5, true}, {3652.6, false}, {-3652.6, false}}) {
    EXPECT_EQ(WithinPredictionHorizon(epoch * 60.0 + days * 86400.0, epoch), within) << days;
  }
}

TEST(PredictionStep, ElevationExactlyAtTheMinimumStartsNoSearch) {
  Fixture f("52.5", "13.4", 0.0);
  SatelliteRecord& slot = f.Load(0, kNoaa15Line1, kNoaa15Line2);
  f.At(slot, 33.3);
  f.StepSlot(0);
  const double elevation = slot.lookAngles[1];
  // Same time, minimum elevation set to exactly what the step sees, flags reset.
  f.station.minimumElevation = elevation;
  slot.aosPending = 0;
  slot.inPass = 0;
  slot.aosTime = 0;
  slot.losTime = 0;
  const std::int64_t before = f.predictor.propagations();
  f.StepSlot(0);
  EXPECT_EQ(slot.lookAngles[1], elevation);
  EXPECT_EQ(f.predictor.propagations(), before + 1);
  EXPECT_EQ(slot.aosPending, 0);
  EXPECT_EQ(slot.inPass, 0);
  EXPECT_EQ(slot.aosTime, 0);
  EXPECT_EQ(slot.losTime, 0);
}

TEST(PredictionStep, NeverRisingSatelliteSearchesAgain) {
  Fixture f("60", "10", 0.0);
  SatelliteRecord& slot = f.Load(0, kHete2Line1, kHete2Line2);
  f.At(slot, 0.0);
  f.StepSlot(0);
  EXPECT_EQ(slot.aosTime, 0);
  EXPECT_EQ(slot.aosPending, 0);
  EXPECT_EQ(slot.inPass, 0);
  const std::int64_t first = f.predictor.propagations();
  f.StepSlot(0);
  EXPECT_GT(f.predictor.propagations(), first + 100);  // searched again, within its budget
  EXPECT_LT(f.predictor.propagations(), 2 * first + 5);
}

TEST(EvaluatePass, DirectionAndFlip) {
  Fixture f("52.5", "13.4", 5.0);
  SatelliteRecord& slot = f.Load(2, kNoaa18Line1, kNoaa18Line2);
  const ElementSet e = slot.Elements();
  std::vector<Interval> truth = BruteForcePasses(e, f.station, 0, 1440);
  ASSERT_GE(truth.size(), 4u);

  bool sawNorthbound = false, sawSouthbound = false;
  for (const Interval& pass : truth) {
    // Waiting for this pass (its AOS predicted); a stale LOS in the slot is renewed.
    f.At(slot, pass.rise - 30);
    slot.aosPending = 0;
    slot.inPass = 0;
    f.StepSlot(2);
    ASSERT_EQ(slot.aosPending, 1);
    slot.losTime = 12345;
    const double positionBefore = slot.position[0];
    f.pass.PassEvaluated = 0;
    f.predictor.EvaluatePass(2);
    EXPECT_EQ(f.pass.PassEvaluated, 1);
    EXPECT_NEAR(slot.losTime, (pass.set + e.epochMinutes) * 60, 1.6);
    EXPECT_EQ(slot.position[0], positionBefore);  // trial positions never reach the slot

    // Independent look at the pass: start at the stored AOS, end at the stored LOS.
    const double start = TsinceOf(slot.aosTime, e.epochMinutes);
    const double end = TsinceOf(slot.losTime, e.epochMinutes);
    ElementSet copy = e;
    StateVector s;
    Propagate((start + end) / 2, copy, s);
    // A near-polar orbit runs north exactly when its z velocity is positive mid-pass.
    const bool north = s.velocity[2] > 0;
    EXPECT_EQ(f.pass.PassNorthbound, north ? 1 : 0);
    (north ? sawNorthbound : sawSouthbound) = true;
    double az[3];
    const double times[3] = {start, start + (end - start) * 0.5, end};
    for (int i = 0; i < 3; ++i) {
      Propagate(times[i], copy, s);
      az[i] = ComputeLookAngles(times[i], e.epoch1950Minutes, s.position, f.station).azimuth / kDeg;
    }
    EXPECT_EQ(f.pass.FlipPass, AzimuthReverses(az[0], az[1], az[2]) ? 1 : 0);
  }
  EXPECT_TRUE(sawNorthbound);
  EXPECT_TRUE(sawSouthbound);

  // --- During a pass the evaluation starts at the present second of the corrected clock.
  f.At(slot, truth[0].rise + 2);
  slot.aosPending = 0;
  slot.inPass = 0;
  f.StepSlot(2);
  ASSERT_EQ(slot.inPass, 1);
  const std::int64_t los = slot.losTime;
  f.pass.PassEvaluated = 0;
  f.predictor.EvaluatePass(2);
  EXPECT_EQ(f.pass.PassEvaluated, 1);
  EXPECT_EQ(slot.losTime, los);
}

TEST(EvaluatePass, NothingToEvaluate) {
  Fixture f;
  // --- Empty slot: no flip, evaluated.
  f.pass.FlipPass = 1;
  f.predictor.EvaluatePass(0);
  EXPECT_EQ(f.pass.FlipPass, 0);
  EXPECT_EQ(f.pass.PassEvaluated, 1);

  // --- Geosynchronous: the same.
  SatelliteRecord& goes = f.Load(1, kGoes12Line1, kGoes12Line2);
  goes.geosynchronous = 1;
  f.pass.FlipPass = 1;
  f.pass.PassEvaluated = 0;
  f.predictor.EvaluatePass(1);
  EXPECT_EQ(f.pass.FlipPass, 0);
  EXPECT_EQ(f.pass.PassEvaluated, 1);

  // --- No pass known yet (both flags 0): not evaluated, so the scheduling asks again.
  f.Load(2, kNoaa15Line1, kNoaa15Line2);
  f.pass.FlipPass = 1;
  f.pass.PassEvaluated = 0;
  f.predictor.EvaluatePass(2);
  EXPECT_EQ(f.pass.FlipPass, 0);
  EXPECT_EQ(f.pass.PassEvaluated, 0);
}

ElementSet ParsedElements(const std::string& line1, const std::string& line2) {
  const ParsedSatellite parsed = ParseElementSet("SAT", line1, line2);
  EXPECT_TRUE(parsed.ok());
  return parsed.elements;
}

TEST(PredictionStep, InstallsReplacementsBetweenSteps) {
  // Two satellites whose element sets carry no drag term: the propagator estimates one for each.
  ElementSet first = ParsedElements(kNoaa15Line1, kNoaa15Line2);
  ElementSet second = ParsedElements(kNoaa18Line1, kNoaa18Line2);
  first.bstar = 0;
  second.bstar = 0;
  Fixture f("52.5", "13.4", 0.0);
  SatelliteRecord& slot = f.table[2];
  slot.update.PostLoad("FIRST", first, "");
  f.clock.Set(SystemTime::FromMilliseconds(
      static_cast<std::int64_t>(std::llround(second.epochMinutes * 60000.0))));
  f.StepSlot(2);
  ASSERT_TRUE(slot.IsActive());
  const double firstEstimate = slot.bstar;
  EXPECT_NE(firstEstimate, 0.0);
  const std::int64_t firstAos = slot.aosTime;

  // --- Asked for, not installed: the slot still holds the first satellite whole.
  slot.update.PostLoad("SECOND", second, "FIRST");
  EXPECT_TRUE(slot.update.Pending());
  EXPECT_EQ(slot.WillHoldName(), "SECOND");
  EXPECT_EQ(slot.name.Get(), "FIRST");
  EXPECT_EQ(slot.epochMinutes, first.epochMinutes);
  EXPECT_EQ(slot.bstar, firstEstimate);
  EXPECT_EQ(slot.aosTime, firstAos);

  // --- The next step of any slot installs it; the slot's own step then predicts it afresh,
  // with a drag estimate of its own, not the first satellite's.
  f.StepSlot(3);
  EXPECT_FALSE(slot.update.Pending());
  EXPECT_EQ(slot.name.Get(), "SECOND");
  EXPECT_EQ(slot.meanMotion, second.meanMotion);
  EXPECT_EQ(slot.bstar, 0.0);
  EXPECT_EQ(slot.aosPending, 0);
  EXPECT_EQ(slot.aosTime, 0);
  f.StepSlot(2);
  ElementSet expected = second;
  StateVector state;
  const double tsince = f.clock.Now().AsSeconds() / 60 - second.epochMinutes;
  Propagate(tsince, expected, state);
  EXPECT_NE(expected.bstar, 0.0);
  EXPECT_NE(expected.bstar, firstEstimate);
  EXPECT_EQ(slot.bstar, expected.bstar);
  EXPECT_EQ(slot.position[0], state.position[0]);
  const bool up = Elevation(second, f.station, tsince) > 0;
  EXPECT_EQ(slot.inPass, up ? 1 : 0);
  if (!up) {
    EXPECT_EQ(slot.aosTime, FindNextPass(second, f.station, tsince).aosTime);
  }

  // --- A reset of the pass flags, then emptying: each waits for the next step.
  ASSERT_EQ(slot.aosPending + slot.inPass, 1);
  slot.update.PostPassReset();
  EXPECT_EQ(slot.aosPending + slot.inPass, 1);
  f.StepSlot(3);
  EXPECT_EQ(slot.aosPending, 0);
  EXPECT_EQ(slot.inPass, 0);
  slot.update.PostEmpty();
  EXPECT_TRUE(slot.IsActive());
  EXPECT_FALSE(slot.WillBeActive());
  f.StepSlot(3);
  EXPECT_FALSE(slot.IsActive());
}

}  // namespace
}  // namespace halvik
