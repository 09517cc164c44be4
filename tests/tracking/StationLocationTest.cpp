#include "tracking/StationLocation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "orbit/StationGeometry.h"
#include "tracking/TrackingRig.h"

namespace halvik::trackingtest {
namespace {

const std::string kOldLocation = "45.500000\n10.000000\n600.000000\n0\n";

// The check on its own: the station at 45.5 N, 10.0 E, 600 ft, and a fix set straight into
// the GPS state (no receiver is present, so the position read leaves it as set).
struct LocationRig {
  LocationRig() {
    rig.dir.Write("location.dat", kOldLocation);
    SetStation(rig.station, "45.5", "10.0", "600");
    rig.gpsState.GpsHealth = 0;
    for (SatelliteRecord& slot : rig.table) {
      slot.aosPending = 1;
      slot.inPass = 1;
    }
  }
  void Fix(double latitude, double longitude, double altitudeFeet) {
    rig.gpsState.GpsLatitude = latitude;
    rig.gpsState.GpsLongitude = longitude;
    rig.gpsState.GpsAltitude = altitudeFeet;
  }
  void Check() { location.CheckStationLocation(countdown); }
  bool Rewritten() { return rig.dir.Read("location.dat") != kOldLocation; }
  std::string Lines123() {
    std::string text = rig.dir.Read("location.dat");
    std::size_t third = 0;
    for (int i = 0; i < 3; ++i) third = text.find('\n', third) + 1;
    return text.substr(0, third);
  }

  TrackingRig rig;
  int mapChecks = 0;
  int countdown = 0;
  StationLocation location{rig.context, [this] { ++mapChecks; }};
};

// Sets TZ for the life of the object.
class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

TEST(StationLocationTest, ToleranceAroundTheStation) {
  StationConfig station;
  SetStation(station, "45.5", "10.0", "600");
  EXPECT_FALSE(StationDiffersFromFix(station, 45.505, 10.0, 650.0));
  EXPECT_FALSE(StationDiffersFromFix(station, 45.5, 9.995, 1099.0));
  EXPECT_TRUE(StationDiffersFromFix(station, 45.52, 10.0, 650.0));
  EXPECT_TRUE(StationDiffersFromFix(station, 45.48, 10.0, 600.0));
  EXPECT_TRUE(StationDiffersFromFix(station, 45.5, 10.02, 600.0));
  EXPECT_TRUE(StationDiffersFromFix(station, 45.5, 10.0, 1101.0));
  EXPECT_TRUE(StationDiffersFromFix(station, 45.5, 10.0, 99.0));
}

TEST(StationLocationTest, RewriteFromTheFix) {
  TimeZone utc("UTC0");
  // --- within tolerance: nothing written, nothing shown ---
  LocationRig near;
  near.Fix(45.505, 10.0, 650.0);
  near.Check();
  EXPECT_EQ(near.countdown, 300);
  EXPECT_FALSE(near.Rewritten());
  EXPECT_EQ(near.rig.beeper.count(), 0);
  EXPECT_EQ(near.mapChecks, 0);
  EXPECT_EQ(near.rig.table[0].inPass.load(), 1);

  // --- 0.02 degree away: beep, rewrite, reload, map check ---
  LocationRig far;
  far.Fix(45.52, 10.0, 650.0);
  far.Check();
  EXPECT_EQ(far.countdown, 300);
  EXPECT_EQ(far.rig.beeper.count(), 1);
  EXPECT_EQ(far.rig.dir.Read("location.dat"), "45.520000\n10.000000\n650.000000\n0\n");
  EXPECT_NEAR(far.rig.station.latitude * kDisplayDegreesPerRadian, 45.52, 1e-12);
  InstallSlotUpdates(far.rig.table);  // the next prediction step
  for (const SatelliteRecord& slot : far.rig.table) {
    EXPECT_EQ(slot.aosPending.load(), 0);
    EXPECT_EQ(slot.inPass.load(), 0);
  }
  EXPECT_EQ(far.mapChecks, 1);
  EXPECT_TRUE(far.rig.messages.Shown().empty());
  // The moved station now matches the fix: no second rewrite.
  far.Check();
  EXPECT_EQ(far.rig.beeper.count(), 1);

  // --- a fix below sea level is taken at 0 feet ---
  LocationRig low;
  low.Fix(45.52, 10.0, -30.0);
  low.Check();
  EXPECT_EQ(low.Lines123(), "45.520000\n10.000000\n0.000000\n");
  EXPECT_EQ(low.rig.gpsState.GpsAltitude.load(), 0.0);
}

TEST(StationLocationTest, NothingWithoutAGoodFix) {
  // --- health 1 (no GPS time): no read, no write until the next period ---
  LocationRig noTime;
  noTime.Fix(45.52, 10.0, 650.0);
  noTime.rig.gpsState.GpsHealth = 1;
  noTime.Check();
  EXPECT_EQ(noTime.countdown, 300);
  EXPECT_FALSE(noTime.Rewritten());
  EXPECT_EQ(noTime.rig.beeper.count(), 0);

  // --- no valid fix (time of fix negative) ---
  LocationRig noFix;
  noFix.Fix(1000.0, 1000.0, 650.0);
  noFix.Check();
  EXPECT_FALSE(noFix.Rewritten());
  EXPECT_EQ(noFix.rig.beeper.count(), 0);
}

TEST(StationLocationTest, TimeZoneLine) {
  // --- UTC+05:30 is -5 (seconds west, cut toward zero) ---
  {
    TimeZone india("<+0530>-5:30");
    ASSERT_EQ(timezone, -19800);
    LocationRig rig;
    rig.Fix(45.52, 10.0, 650.0);
    rig.Check();
    EXPECT_EQ(rig.rig.dir.Read("location.dat"), "45.520000\n10.000000\n650.000000\n-5\n");
  }
  // --- UTC-03:00 is 3 ---
  {
    TimeZone brazil("<-03>3");
    LocationRig rig;
    rig.Fix(45.52, 10.0, 650.0);
    rig.Check();
    EXPECT_EQ(rig.rig.dir.Read("location.dat"), "45.520000\n10.000000\n650.000000\n3\n");
  }
}

TEST(StationLocationTest, UnwritableLocationFile) {
  TimeZone utc("UTC0");
  LocationRig rig;
  // The temporary file of the rewrite cannot be created.
  std::filesystem::create_directory(rig.rig.dir.path() / "location.dat.new");
  rig.Fix(45.52, 10.0, 650.0);

  // --- the old file and the station stay; one message ---
  rig.Check();
  EXPECT_FALSE(rig.Rewritten());
  EXPECT_NEAR(rig.rig.station.latitude * kDisplayDegreesPerRadian, 45.5, 1e-12);
  EXPECT_EQ(rig.rig.table[0].inPass.load(), 1) << "no reload";
  EXPECT_EQ(rig.mapChecks, 0);
  EXPECT_EQ(rig.rig.messages.Shown(), std::vector<std::string>{kLocationNotWrittenMessage});
  rig.Check();
  EXPECT_EQ(rig.rig.messages.Shown().size(), 1u) << "shown once while the failure lasts";

  // --- once the file can be written again the station moves ---
  std::filesystem::remove(rig.rig.dir.path() / "location.dat.new");
  rig.Check();
  EXPECT_EQ(rig.rig.dir.Read("location.dat"), "45.520000\n10.000000\n650.000000\n0\n");
  EXPECT_EQ(rig.mapChecks, 1);
  EXPECT_EQ(rig.rig.messages.Shown().size(), 1u);
}

}  // namespace
}  // namespace halvik::trackingtest
