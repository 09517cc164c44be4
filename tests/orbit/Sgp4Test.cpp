#include "orbit/Sgp4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "orbit/ElementSet.h"
#include "orbit/TestElements.h"

namespace halvik {
namespace {

constexpr double kKm = 1.0 / kEarthRadiusKm;       // Earth radii per km
constexpr double kKmPerS = 60.0 / kEarthRadiusKm;  // Earth radii/min per km/s
constexpr double kFifteenMetres = 0.015 * kKm;
constexpr double kTwoCmPerS = 0.00002 * kKmPerS;
constexpr double kOneCmPerS = 0.00001 * kKmPerS;

ElementSet Parsed(const std::string& line1, const std::string& line2) {
  SatelliteRecord slot;
  EXPECT_EQ(ParseElementSet("TEST", line1, line2, slot), ElementSetResult::Ok);
  return slot.Elements();
}

struct Expected {
  double tsince;       // min
  double position[3];  // km
  double velocity[3];  // km/s
};

void ExpectState(const ElementSet& elements, const Expected& row, double positionTolerance,
                 double velocityTolerance) {
  ElementSet e = elements;
  StateVector s;
  Propagate(row.tsince, e, s);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(s.position[i], row.position[i] * kKm, positionTolerance)
        << "tsince " << row.tsince << " axis " << i;
    EXPECT_NEAR(s.velocity[i], row.velocity[i] * kKmPerS, velocityTolerance)
        << "tsince " << row.tsince << " axis " << i;
  }
}

TEST(Propagate, ReportTestCase) {
  // The published SGP4 test output for element set 88888 (perigee 198 km: simplified drag).
  const Expected rows[] = {
      {0, {2328.97048951, -5995.22076416, 1719.97067261}, {2.91207230, -0.98341546, -7.09081703}},
      {360, {2456.10705566, -6071.93853760, 1222.89727783}, {2.67938992, -0.44829041, -7.22879231}},
      {720, {2567.56195068, -6112.50384522, 713.96397400}, {2.44024599, 0.09810869, -7.31995916}},
      {1080, {2663.09078980, -6115.48229980, 196.39640427}, {2.19611958, 0.65241995, -7.36282432}},
      {1440, {2742.55133057, -6079.67144775, -326.38095856}, {1.94850229, 1.21106251, -7.35619372}},
  };
  ElementSet e = Parsed(k88888Line1, k88888Line2);
  for (const Expected& row : rows) ExpectState(e, row, kFifteenMetres, kTwoCmPerS);
}

TEST(Propagate, AgreesWithAnIndependentImplementationOnEveryBranch) {
  // Reference values from an independent implementation of the same model run with the same
  // (WGS-72) constants; the two agree to centimetres except where that one's later refinements
  // show after long spans, so the tolerance is the report case's.

  // --- Normal drag terms (perigee 800 km), before and after the epoch.
  ElementSet noaa15 = Parsed(kNoaa15Line1, kNoaa15Line2);
  Sgp4Init init;
  InitializeSgp4(noaa15, init);
  EXPECT_FALSE(init.isimp);
  const Expected noaa15Rows[] = {
      {-720, {-4536.044534, -2730.948056, -4861.795836}, {-5.003572285, -1.251109381, 5.369033220}},
      {0, {-6589.399472, -2873.956540, 0.291057}, {-0.443352298, 1.019096157, 7.365304036}},
      {1440, {-865.462248, 782.597673, 7091.261692}, {6.725634304, 3.149691915, 0.473946417}},
  };
  for (const Expected& row : noaa15Rows) ExpectState(noaa15, row, kFifteenMetres, kOneCmPerS);

  // --- High eccentricity (0.186), a 133-minute orbit: Kepler's equation far from circular.
  ElementSet vanguard = Parsed(kVanguardLine1, kVanguardLine2);
  const Expected vanguardRows[] = {
      {0, {7022.465291, -1400.082967, 0.039952}, {1.893841014, 6.405893757, 4.534807249}},
      {360, {-7154.031200, -3783.176824, -3536.194122}, {4.741887408, -4.151817764, -2.093935424}},
      {1440, {-938.559239, -6268.187486, -4294.029246}, {7.536105207, -0.427127707, 0.989878079}},
  };
  for (const Expected& row : vanguardRows) ExpectState(vanguard, row, kFifteenMetres, kOneCmPerS);

  // --- Perigee 212 km: below 220 km, simplified drag.
  ElementSet sl12 = Parsed(kSl12Line1, kSl12Line2);
  InitializeSgp4(sl12, init);
  EXPECT_TRUE(init.isimp);
  const Expected sl12Rows[] = {
      {0, {-5566.595127, -3789.759910, 67.603822}, {2.873759366, -3.825340522, 6.023253924}},
      {360, {-6157.935467, -2094.707988, -1941.637308}, {0.149900662, -5.175192521, 5.604262033}},
      {1440, {-2629.550127, 3400.980392, -5344.382168}, {-6.368548440, -3.998963517, 0.577253078}},
  };
  for (const Expected& row : sl12Rows) ExpectState(sl12, row, kFifteenMetres, kOneCmPerS);

  // --- Perigee 127 km: below 156 km, s follows the perigee (s = perigee - 78 km).
  ElementSet cosmos = Parsed(kCosmos2405Line1, kCosmos2405Line2);
  const Expected cosmosRows[] = {
      {0, {6333.081229, -1580.828523, 90.693557}, {0.714634423, 3.224246549, 7.083128130}},
      {360, {4788.223425, 782.561712, 4335.142870}, {-4.954509065, 3.683346457, 4.804645802}},
  };
  for (const Expected& row : cosmosRows) ExpectState(cosmos, row, kFifteenMetres, kOneCmPerS);

  // --- Perigee 91 km: at or below 98 km, s is 20 km.
  ElementSet low = Parsed(kCosmos2405Line1, WithChecksum("2 28350  64.9977 345.6130 0080000 "
                                                         "260.7578  99.9590 16.47856722116490"));
  const Expected lowRows[] = {
      {30, {-2956.629012, 3138.146651, 4927.878502}, {-6.700634532, -0.173312104, -3.952620889}},
      {60, {-2980.852683, -1850.387837, -5441.994977}, {6.753321489, -3.031088704, -2.655282887}},
  };
  for (const Expected& row : lowRows) ExpectState(low, row, kFifteenMetres, kOneCmPerS);
}

TEST(Propagate, BstarEstimate) {
  // --- GOES 12's set carries B* 0 and a first derivative of -2.44e-6 rev/day^2.
  SatelliteRecord slot;
  ASSERT_EQ(ParseElementSet("GOES 12", kGoes12Line1, kGoes12Line2, slot), ElementSetResult::Ok);
  ASSERT_EQ(slot.bstar, 0.0);
  Propagate(100.0, slot);
  const double estimate = slot.bstar;
  EXPECT_NE(estimate, 0.0);
  EXPECT_LT(estimate, 0.0);  // a negative derivative gives a negative drag term

  // The estimate is the B* for which C1 = B* C2 equals 2/3 XNDT2O / XNO.
  ElementSet e = slot.Elements();
  Sgp4Init init;
  InitializeSgp4(e, init);
  EXPECT_EQ(e.bstar, estimate);  // kept: not estimated again
  EXPECT_NEAR(init.c1 * slot.meanMotion / (0.6666666666666667 * slot.meanMotionDot), 1.0, 1e-12);

  // Later calls give what a run that had this B* from the start gives.
  ElementSet fromStart = slot.Elements();
  ElementSet zero = fromStart;
  zero.bstar = 0.0;
  for (double t : {-500.0, 0.0, 1440.0, 10000.0}) {
    StateVector a, b;
    Propagate(t, slot);
    ElementSet copy = fromStart;
    Propagate(t, copy, a);
    Propagate(t, zero, b);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(slot.position[i], a.position[i]);
      EXPECT_EQ(slot.velocity[i], a.velocity[i]);
      EXPECT_EQ(a.position[i], b.position[i]);
    }
    EXPECT_EQ(slot.bstar, estimate);
  }

  // --- No derivative either: the estimate stays 0 and the orbit is drag-free.
  ElementSet noDrag = Parsed(kNoaa15Line1, kNoaa15Line2);
  noDrag.bstar = 0.0;
  noDrag.meanMotionDot = 0.0;
  StateVector s;
  Propagate(1440.0, noDrag, s);
  EXPECT_EQ(noDrag.bstar, 0.0);
  EXPECT_TRUE(std::isfinite(s.position[0]));
}

TEST(Propagate, LongPeriodsAndCircularOrbits) {
  auto radius = [](const StateVector& s) {
    return std::sqrt(s.position[0] * s.position[0] + s.position[1] * s.position[1] +
                     s.position[2] * s.position[2]);
  };

  // --- A 24-hour orbit stays at the geosynchronous radius, 6.61 Earth radii, for days on end.
  ElementSet goes = Parsed(kGoes12Line1, kGoes12Line2);
  for (double t = -2880; t <= 2880; t += 90) {
    StateVector s;
    Propagate(t, goes, s);
    EXPECT_NEAR(radius(s), 6.61, 0.02) << t;
    EXPECT_TRUE(std::isfinite(s.velocity[2])) << t;
  }

  // --- A 12-hour orbit of eccentricity 0.7 moves between its perigee and apogee radii
  // (a = 4.16 Earth radii).
  ElementSet molniya =
      Parsed(WithChecksum("1 99999U 99999A   09215.00000000  .00000100  00000-0  10000-3 0  1000"),
             WithChecksum("2 99999  63.4000 100.0000 7000000 270.0000  10.0000  2.00600000 10000"));
  double smallest = 100, largest = 0;
  for (double t = -1440; t <= 1440; t += 5) {
    StateVector s;
    Propagate(t, molniya, s);
    ASSERT_TRUE(std::isfinite(radius(s))) << t;
    smallest = std::min(smallest, radius(s));
    largest = std::max(largest, radius(s));
  }
  EXPECT_NEAR(smallest, 4.16 * 0.3, 0.02);
  EXPECT_NEAR(largest, 4.16 * 1.7, 0.05);

  // --- Eccentricity exactly 0: finite, and continuous with a nearly circular orbit.
  ElementSet circular = Parsed(kNoaa15Line1, kNoaa15Line2);
  circular.eccentricity = 0.0;
  ElementSet nearly = circular;
  nearly.eccentricity = 1e-7;
  for (double t : {-1440.0, 0.0, 1440.0, 10000.0}) {
    StateVector a, b;
    Propagate(t, circular, a);
    Propagate(t, nearly, b);
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(std::isfinite(a.position[i]) && std::isfinite(a.velocity[i])) << t;
      EXPECT_NEAR(a.position[i], b.position[i], 0.01 * kKm) << t;
    }
  }
}

TEST(Propagate, CachedInitialisationGivesIdenticalResults) {
  // One cache serving two element sets in turn (as a slot reloaded with another satellite) and
  // one whose B* is estimated: every result equal, bit for bit, to the per-call path.
  Sgp4Cache cache;
  ElementSet sets[] = {Parsed(kNoaa15Line1, kNoaa15Line2), Parsed(kNoaa12Line1, kNoaa12Line2),
                       Parsed(kGoes12Line1, kGoes12Line2)};
  for (int round = 0; round < 3; ++round) {
    for (ElementSet& live : sets) {
      for (double t : {-100.0, 0.0, 33.3, 1440.0}) {
        ElementSet reference = live;
        StateVector expected, actual;
        Propagate(t, reference, expected);
        cache.Propagate(t, live, actual);
        EXPECT_EQ(live.bstar, reference.bstar);
        for (int i = 0; i < 3; ++i) {
          EXPECT_EQ(actual.position[i], expected.position[i]);
          EXPECT_EQ(actual.velocity[i], expected.velocity[i]);
        }
      }
    }
  }
  // A changed element is noticed.
  ElementSet changed = sets[0];
  StateVector before, after;
  cache.Propagate(60.0, changed, before);
  changed.meanAnomaly += 0.01;
  cache.Propagate(60.0, changed, after);
  EXPECT_NE(before.position[0], after.position[0]);
}

TEST(Fmod2Pi, ReducesIntoOneTurn) {
  EXPECT_DOUBLE_EQ(Fmod2Pi(1.0), 1.0);
  EXPECT_DOUBLE_EQ(Fmod2Pi(-0.5), kTwoPi - 0.5);
  EXPECT_NEAR(Fmod2Pi(7.0), 7.0 - kTwoPi, 1e-15);
  EXPECT_NEAR(Fmod2Pi(-3 * kTwoPi - 1.0), kTwoPi - 1.0, 1e-12);
  EXPECT_EQ(Fmod2Pi(kTwoPi), 0.0);
  // A tiny negative angle must not come back as 2pi itself.
  double r = Fmod2Pi(-1e-18);
  EXPECT_GE(r, 0.0);
  EXPECT_LT(r, kTwoPi);
}

}  // namespace
}  // namespace halvik
