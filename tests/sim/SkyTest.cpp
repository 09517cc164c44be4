#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <thread>
#include <vector>

#include "orbit/ElementSet.h"
#include "orbit/Sgp4.h"
#include "orbit/StationGeometry.h"
#include "platform/Text.h"
#include "sim/Sky.h"
#include "support/TempDir.h"

namespace halvik::sim {
namespace {

// Real element sets of the era (NORAD, public).
constexpr const char* kNoaa15Line1 =
    "1 25338U 98030A   09362.36812158 -.00000012  00000-0  13243-4 0  2102";
constexpr const char* kNoaa15Line2 =
    "2 25338  98.6030 347.5048 0010160 208.4397 151.6285 14.24799183604423";
constexpr const char* kHete2Line1 =
    "1 26561U 00061A   07359.65628936  .00001100  00000-0  25472-4 0  1983";
constexpr const char* kHete2Line2 =
    "2 26561   1.9511 247.0012 0024076 306.0803  53.7005 14.95820486394175";

constexpr double kRad = 0.0174532925199433;
constexpr double kLatitude = 55.68, kLongitude = 12.57, kHeightFeet = 30;

StationConfig Station(double latitude = kLatitude) {
  StationConfig station;
  SetStation(station, Format("%.2f", latitude), Format("%.2f", kLongitude),
             Format("%.0f", kHeightFeet));
  return station;
}

// The satellite's look angles straight from the orbit model, in degrees: the reference the
// sky is checked against.
SkyLook Truth(const TrueSatellite& satellite, double t, const StationConfig& station = Station()) {
  ElementSet elements = satellite.elements;
  double tsince = t / 60 - elements.epochMinutes;
  StateVector state;
  Propagate(tsince, elements, state);
  LookAngles look = ComputeLookAngles(tsince, elements.epoch1950Minutes, state.position, station);
  return {look.azimuth / kRad, look.elevation / kRad, look.range * kEarthRadiusKm};
}

struct Pass {
  double rise = 0;  // first whole second above the horizon
  double set = 0;   // first whole second below it again
  double high = 0;  // a moment above `highDeg`
};

// Brute force: the first pass after `from` that climbs above `highDeg`, found in 10 s steps,
// its ends to the second.
Pass FindPass(const TrueSatellite& satellite, double from, double highDeg) {
  Pass pass;
  for (double t = from; t < from + 3 * 86400.0; t += 10) {
    if (Truth(satellite, t).elevationDeg > highDeg) {
      pass.high = t;
      break;
    }
  }
  EXPECT_GT(pass.high, 0) << "no pass above " << highDeg << " deg";
  pass.rise = pass.high;
  while (Truth(satellite, pass.rise - 1).elevationDeg > 0) pass.rise -= 1;
  pass.set = pass.high;
  while (Truth(satellite, pass.set).elevationDeg > 0) pass.set += 1;
  return pass;
}

void SetTime(ManualClock& clock, double t) {
  clock.Set(SystemTime::FromMilliseconds(std::llround(t * 1000)));
}

TrueSatellite Noaa15() {
  TrueSatellite satellite;
  EXPECT_EQ(MakeTrueSatellite("NOAA 15", kNoaa15Line1, kNoaa15Line2, satellite),
            ElementSetResult::Ok);
  return satellite;
}

double Epoch(const TrueSatellite& satellite) {
  return satellite.elements.epochMinutes * 60;
}

struct Fixture {
  ManualClock clock;
  Sky sky;
  TrueSatellite noaa15 = Noaa15();
  explicit Fixture(SkyOptions options = {}) : sky(clock, options) {
    EXPECT_EQ(sky.AddSatellite("NOAA 15", kNoaa15Line1, kNoaa15Line2), ElementSetResult::Ok);
    sky.SetStation(kLatitude, kLongitude, kHeightFeet);
  }
  // At `t`, dish on the satellite (plus offsets) and the receiver on its downlink.
  DownlinkView Listen(double t, double azOffset = 0, double elOffset = 0, double mhz = 1702.5,
                      int mode = 3) {
    SetTime(clock, t);
    SkyLook look = Truth(noaa15, t);
    sky.PointAntenna(look.azimuthDeg + azOffset, look.elevationDeg + elOffset);
    sky.TuneReceiver(mhz, mode);
    return sky.Downlink();
  }
};

TEST(Sky, LinkNeedsHorizonBeamAndTuningTogether) {
  Fixture f;
  Pass pass = FindPass(f.noaa15, Epoch(f.noaa15), 45);

  // --- all three hold: NOAA 15 is heard ---
  DownlinkView heard = f.Listen(pass.high);
  ASSERT_TRUE(heard.receivable);
  EXPECT_EQ(heard.satelliteName, "NOAA 15");
  EXPECT_EQ(heard.family, SatelliteFamily::Noaa);
  EXPECT_NEAR(heard.elevationDeg, Truth(f.noaa15, pass.high).elevationDeg, 0.01);
  EXPECT_GT(heard.signalLevelVolts, 2.0);
  EXPECT_LE(heard.signalLevelVolts, 9.999);

  // --- below the horizon, dish on it and receiver tuned: nothing ---
  EXPECT_FALSE(f.Listen(pass.rise - 30).receivable);
  EXPECT_TRUE(f.Listen(pass.rise + 30).receivable);
  EXPECT_TRUE(f.Listen(pass.set - 30).receivable);
  EXPECT_FALSE(f.Listen(pass.set + 30).receivable);

  // --- antenna off the satellite: the beam is an angle on the sky ---
  EXPECT_FALSE(f.Listen(pass.high, 0, 8).receivable);
  EXPECT_FALSE(f.Listen(pass.high, 0, -6).receivable);
  EXPECT_TRUE(f.Listen(pass.high, 0, 3).receivable);
  // 6 deg of azimuth above 45 deg elevation is less than 5 deg on the sky.
  EXPECT_TRUE(f.Listen(pass.high, 6, 0).receivable);
  EXPECT_FALSE(f.Listen(pass.high, 20, 0).receivable);

  // --- receiver elsewhere ---
  EXPECT_TRUE(f.Listen(pass.high, 0, 0, 1702.45, 3).receivable);
  EXPECT_FALSE(f.Listen(pass.high, 0, 0, 1702.7, 3).receivable);
  EXPECT_FALSE(f.Listen(pass.high, 0, 0, 1698.0, 3).receivable);
  EXPECT_FALSE(f.Listen(pass.high, 0, 0, 1691.0, 3).receivable);
  EXPECT_FALSE(f.Listen(pass.high, 0, 0, 1702.5, 5).receivable) << "wrong receiver mode";

  // --- what a board sees when nothing is heard ---
  DownlinkView silent = f.Listen(pass.high, 0, 0, 1691.0, 3);
  EXPECT_EQ(silent.signalLevelVolts, 0);
  EXPECT_EQ(silent.satelliteName, "");
  EXPECT_EQ(silent.bitErrorRate, 0.5);
}

TEST(Sky, LevelErrorRateAndProgressFollowThePass) {
  Fixture f;
  Pass pass = FindPass(f.noaa15, Epoch(f.noaa15), 45);

  // --- higher is louder and cleaner ---
  std::vector<double> times;
  for (double t = pass.rise + 5; t < pass.high; t += 20) times.push_back(t);
  ASSERT_GT(times.size(), 5u);
  DownlinkView previous = f.Listen(times[0]);
  EXPECT_LT(previous.signalLevelVolts, 3.0) << "near the horizon";
  EXPECT_GT(previous.bitErrorRate, 3e-4);
  for (std::size_t i = 1; i < times.size(); ++i) {
    DownlinkView view = f.Listen(times[i]);
    ASSERT_TRUE(view.receivable);
    EXPECT_GT(view.elevationDeg, previous.elevationDeg);
    EXPECT_GT(view.signalLevelVolts, previous.signalLevelVolts);
    EXPECT_LT(view.bitErrorRate, previous.bitErrorRate);
    previous = view;
  }
  EXPECT_LT(previous.bitErrorRate, 2e-5) << "above 45 deg";

  // --- progress through the pass, for the scene ---
  double length = pass.set - pass.rise;
  for (double fraction : {0.05, 0.25, 0.5, 0.75, 0.95}) {
    DownlinkView view = f.Listen(pass.rise + fraction * length);
    ASSERT_TRUE(view.receivable);
    EXPECT_NEAR(view.alongTrack, fraction, 2.0 / length) << fraction;
    // The orbit comes along, for the imager's Earth.
    EXPECT_TRUE(view.elements.has_value()) << fraction;
  }
}

TEST(Sky, FadesAndTheStrongestOfSeveralSatellites) {
  // --- a scripted fade loses the link for its interval only ---
  {
    Fixture f;
    Pass pass = FindPass(f.noaa15, Epoch(f.noaa15), 30);
    f.sky.AddFade(pass.high - 5, pass.high + 5);
    EXPECT_TRUE(f.Listen(pass.high - 6).receivable);
    EXPECT_FALSE(f.Listen(pass.high - 5).receivable);
    EXPECT_FALSE(f.Listen(pass.high + 4.9).receivable);
    EXPECT_TRUE(f.Listen(pass.high + 5).receivable);
  }
  // --- two satellites on one frequency in the beam: the higher one is heard ---
  for (double beam : {5.0, 0.5}) {
    SCOPED_TRACE(beam);
    Fixture f(SkyOptions{.beamHalfWidthDeg = beam});
    TrueSatellite twin = f.noaa15;
    twin.name = "NOAA 15 TWIN";
    twin.elements.meanAnomaly += 0.3 * kRad;  // some 40 km further along the same orbit
    f.sky.AddSatellite(twin);
    Pass pass = FindPass(f.noaa15, Epoch(f.noaa15), 30);
    SkyLook first = Truth(f.noaa15, pass.high), second = Truth(twin, pass.high);
    ASSERT_GT(std::fabs(first.elevationDeg - second.elevationDeg), 0.2);
    const SkyLook& lower = first.elevationDeg < second.elevationDeg ? first : second;
    const std::string higherName =
        first.elevationDeg < second.elevationDeg ? "NOAA 15 TWIN" : "NOAA 15";
    const std::string lowerName = higherName == "NOAA 15" ? "NOAA 15 TWIN" : "NOAA 15";
    SetTime(f.clock, pass.high);
    f.sky.TuneReceiver(1702.5, 3);
    f.sky.PointAntenna(lower.azimuthDeg, lower.elevationDeg);
    DownlinkView view = f.sky.Downlink();
    ASSERT_TRUE(view.receivable);
    // A wide beam takes in both, and the stronger signal captures the receiver; a narrow one
    // centred on the lower satellite hears only that one.
    EXPECT_EQ(view.satelliteName, beam > 1 ? higherName : lowerName);
  }
}

TEST(Sky, FirstAosIsTheNextRise) {
  TrueSatellite noaa15 = Noaa15();
  TrueStation station{kLatitude, kLongitude, kHeightFeet};
  double from = Epoch(noaa15) + 3600;

  // --- the rise itself, and nothing above the horizon before it (2 s brute-force scan) ---
  std::optional<double> aos = FirstAos({&noaa15, 1}, station, from);
  ASSERT_TRUE(aos.has_value());
  EXPECT_GT(Truth(noaa15, *aos).elevationDeg, 0);
  EXPECT_LE(Truth(noaa15, *aos - 0.01).elevationDeg, 0);
  for (double t = from; t < *aos - 0.01; t += 2)
    ASSERT_LE(Truth(noaa15, t).elevationDeg, 0) << "an earlier pass at " << t - from << " s";

  // --- from inside a pass: the pass running does not count ---
  Pass pass = FindPass(noaa15, from, 10);
  std::optional<double> next = FirstAos({&noaa15, 1}, station, pass.high);
  ASSERT_TRUE(next.has_value());
  EXPECT_GT(*next, pass.set);
  EXPECT_GT(Truth(noaa15, *next).elevationDeg, 0);

  // --- a minimum elevation: the first moment above it ---
  std::optional<double> above20 = FirstAos({&noaa15, 1}, station, from, 20.0);
  ASSERT_TRUE(above20.has_value());
  EXPECT_GE(*above20, *aos);
  EXPECT_GT(Truth(noaa15, *above20).elevationDeg, 20);
  EXPECT_LE(Truth(noaa15, *above20 - 0.01).elevationDeg, 20);

  // --- a low-inclination satellite never rises over a high-latitude station ---
  TrueSatellite hete2;
  ASSERT_EQ(MakeTrueSatellite("HETE-2", kHete2Line1, kHete2Line2, hete2), ElementSetResult::Ok);
  EXPECT_FALSE(FirstAos({&hete2, 1}, TrueStation{60, kLongitude, 0}, Epoch(hete2), 0, 86400));

  // --- the sky's own helper looks at all its satellites ---
  ManualClock clock;
  Sky sky(clock);
  sky.AddSatellite(hete2);
  sky.AddSatellite(noaa15);
  sky.SetStation(kLatitude, kLongitude, kHeightFeet);
  std::optional<double> skyAos = sky.NextAos(from);
  ASSERT_TRUE(skyAos.has_value());
  EXPECT_NEAR(*skyAos, *aos, 0.01);
}

TEST(Sky, SatellitesFromAnElementFileAndTheirDownlinks) {
  // --- looked up by name, whatever the case, keeping the file's spelling ---
  TempDir dir;
  // Appended, not chained with +: GCC 12 reports a false array-bounds warning on the chain.
  std::string elements = "HETE-2\n";
  elements.append(kHete2Line1).append("\n").append(kHete2Line2).append("\nNOAA 15   \n");
  elements.append(kNoaa15Line1).append("\n").append(kNoaa15Line2).append("\n");
  dir.Write("elements.dat", elements);
  ManualClock clock;
  Sky sky(clock);
  EXPECT_EQ(sky.AddSatelliteFrom(dir.path() / "elements.dat", "noaa 15"), ElementSetResult::Ok);
  EXPECT_EQ(sky.AddSatelliteFrom(dir.path() / "elements.dat", "noaa 14"),
            ElementSetResult::SatelliteNotFound);
  EXPECT_EQ(sky.AddSatelliteFrom(dir.path() / "missing.dat", "noaa 15"),
            ElementSetResult::FileMissing);
  std::string badLine2 = kNoaa15Line2;
  badLine2[68] = '0';
  EXPECT_EQ(sky.AddSatellite("NOAA 12", kNoaa15Line1, badLine2), ElementSetResult::ChecksumError);
  std::vector<TrueSatellite> satellites = sky.Satellites();
  ASSERT_EQ(satellites.size(), 1u);
  EXPECT_EQ(satellites[0].name, "NOAA 15");
  EXPECT_EQ(satellites[0].downlink.frequencyMHz, 1702.5);
  ASSERT_TRUE(sky.Look("Noaa 15", Epoch(satellites[0])).has_value());
  EXPECT_FALSE(sky.Look("NOAA 14", Epoch(satellites[0])).has_value());

  // --- each satellite's downlink by name ---
  struct Row {
    const char* name;
    double mhz;
    int mode;
    SatelliteFamily family;
  };
  for (Row row : {Row{"NOAA 9", 1707.0, 3, SatelliteFamily::Noaa},
                  Row{"noaa 10", 1698.0, 3, SatelliteFamily::Noaa},
                  Row{"NOAA 14", 1707.0, 3, SatelliteFamily::Noaa},
                  Row{"NOAA 15", 1702.5, 3, SatelliteFamily::Noaa},
                  Row{"NOAA 16", 1698.0, 3, SatelliteFamily::Noaa},
                  Row{"ORBVIEW 2 (SEASTAR)", 1702.5, 3, SatelliteFamily::SeaStar},
                  Row{"OrbView 2", 1702.5, 3, SatelliteFamily::SeaStar},
                  Row{"SEASTAR", 1702.5, 3, SatelliteFamily::SeaStar},
                  Row{"FengYun 1C", 1700.5, 5, SatelliteFamily::FengYun}}) {
    DownlinkPlan plan = DownlinkPlanFor(row.name);
    EXPECT_EQ(plan.frequencyMHz, row.mhz) << row.name;
    EXPECT_EQ(plan.mode, row.mode) << row.name;
    EXPECT_EQ(plan.family, row.family) << row.name;
  }
  // A name with anything more is another satellite, with nothing the station can receive.
  EXPECT_EQ(DownlinkPlanFor("NOAA 15 [B]").frequencyMHz, 0);
  EXPECT_EQ(DownlinkPlanFor("NOAA 17").frequencyMHz, 0);
}

TEST(Sky, BoardsOnSeveralThreadsSeeWholeViews) {
  Fixture f;
  Pass pass = FindPass(f.noaa15, Epoch(f.noaa15), 30);
  SetTime(f.clock, pass.high);
  SkyLook look = Truth(f.noaa15, pass.high);
  f.sky.TuneReceiver(1702.5, 3);

  std::thread tracker([&] {
    for (int i = 0; i < 2000; ++i) {
      f.sky.PointAntenna(look.azimuthDeg, look.elevationDeg + (i % 2 ? 0 : 30));
      f.clock.Advance(i % 3 == 0 ? 1 : 0);  // moves the satellite a little, inside the beam
    }
  });
  std::thread receiver([&] {
    for (int i = 0; i < 2000; ++i) f.sky.TuneReceiver(i % 2 ? 1702.5 : 1691.0, 3);
  });
  int heard = 0;
  for (int i = 0; i < 2000; ++i) {
    DownlinkView view = f.sky.Downlink();
    if (view.receivable) {
      ++heard;
      EXPECT_EQ(view.satelliteName, "NOAA 15");
      EXPECT_GT(view.signalLevelVolts, 2.0);
    } else {
      EXPECT_EQ(view.satelliteName, "");
      EXPECT_EQ(view.signalLevelVolts, 0);
    }
  }
  tracker.join();
  receiver.join();
  // The last settings are on the satellite and on its downlink.
  EXPECT_TRUE(f.sky.Downlink().receivable);
}

}  // namespace
}  // namespace halvik::sim
