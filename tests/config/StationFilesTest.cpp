#include "config/StationFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/SatelliteList.h"
#include "config/StationFixture.h"
#include "orbit/ElementSet.h"
#include "orbit/StationGeometry.h"

namespace halvik {
namespace {

using ::testing::ElementsAre;
using testing::StationUnderTest;

// Minimum elevations are stored in radians; a millionth of a degree tells 25 from 25.000001.
constexpr double kMicroDegree = 1e-6 * kRadiansPerDegree;

double MinimumElevationFor(const std::string& minelDat) {
  StationUnderTest s;
  s.dir.Write("minel.dat", minelDat);
  s.station.minimumElevation = -1.0;
  LoadMinimumElevation(s.context);
  EXPECT_TRUE(s.messages.Shown().empty()) << "for " << minelDat;
  return s.station.minimumElevation;
}

TEST(MinimumElevationFile, LoadKeepsValuesFromZeroToTwentyFiveDegreesOnly) {
  // --- the range ends ---
  EXPECT_NEAR(MinimumElevationFor("25.000000\n"), 25 * kRadiansPerDegree, kMicroDegree / 10);
  EXPECT_NEAR(MinimumElevationFor("25.000001\n"), 5 * kRadiansPerDegree, kMicroDegree / 10);
  EXPECT_NEAR(MinimumElevationFor("0.000000\n"), 0.0, kMicroDegree / 10);
  EXPECT_NEAR(MinimumElevationFor("-0.5\n"), 5 * kRadiansPerDegree, kMicroDegree / 10);

  // --- what the number reader makes of odd text ---
  EXPECT_EQ(MinimumElevationFor("none\n"), 0.0);  // no number reads as 0
  EXPECT_NEAR(MinimumElevationFor("12.5 degrees\n"), 12.5 * kRadiansPerDegree, kMicroDegree);
  EXPECT_NEAR(MinimumElevationFor("7.25\r\n"), 7.25 * kRadiansPerDegree, kMicroDegree);
  EXPECT_NEAR(MinimumElevationFor("7.25"), 7.25 * kRadiansPerDegree, kMicroDegree);  // no LF
  EXPECT_NEAR(MinimumElevationFor("nan\n"), 5 * kRadiansPerDegree, kMicroDegree);
  EXPECT_NEAR(MinimumElevationFor("1e9\n"), 5 * kRadiansPerDegree, kMicroDegree);
  // A zero-length file holds no value at all: the default, not 0.
  EXPECT_NEAR(MinimumElevationFor(""), 5 * kRadiansPerDegree, kMicroDegree);
}

TEST(MinimumElevationFile, MissingSaveAndUpdate) {
  // --- missing file: message and 5 degrees ---
  {
    StationUnderTest s;
    LoadMinimumElevation(s.context);
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't find file minel.dat"));
    EXPECT_NEAR(s.station.minimumElevation, 5 * kRadiansPerDegree, kMicroDegree);
  }
  // --- save writes degrees with "%f" and a line feed, and reads back ---
  {
    StationUnderTest s;
    s.station.minimumElevation = 12.5 * kRadiansPerDegree;
    EXPECT_TRUE(SaveMinimumElevation(s.context));
    EXPECT_EQ(s.dir.Read("minel.dat"), "12.500000\n");
    s.station.minimumElevation = 0.0;
    LoadMinimumElevation(s.context);
    EXPECT_NEAR(s.station.minimumElevation, 12.5 * kRadiansPerDegree, kMicroDegree);
    EXPECT_FALSE(std::filesystem::exists(s.dir.path() / "minel.dat.new"));
  }
  // --- update: a value in range is taken, saved, and every slot searches again ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 14\nNOAA 15\n");
    for (auto& slot : s.table) {
      slot.aosPending = 1;
      slot.inPass = 1;
    }
    UpdateMinimumElevation(s.context, 10.0);
    s.Install();
    EXPECT_NEAR(s.station.minimumElevation, 10 * kRadiansPerDegree, kMicroDegree);
    EXPECT_EQ(s.dir.Read("minel.dat"), "10.000000\n");
    for (const auto& slot : s.table) {
      EXPECT_EQ(slot.aosPending, 0);
      EXPECT_EQ(slot.inPass, 0);
    }
    EXPECT_TRUE(s.messages.Shown().empty());
  }
  // --- update: a value out of range changes nothing, silently ---
  {
    StationUnderTest s;
    s.dir.Write("minel.dat", "5.000000\n");
    s.station.minimumElevation = 5 * kRadiansPerDegree;
    s.table[0].aosPending = 1;
    UpdateMinimumElevation(s.context, 25.5);
    UpdateMinimumElevation(s.context, -1.0);
    UpdateMinimumElevation(s.context, std::nan(""));
    s.Install();
    EXPECT_NEAR(s.station.minimumElevation, 5 * kRadiansPerDegree, kMicroDegree);
    EXPECT_EQ(s.dir.Read("minel.dat"), "5.000000\n");
    EXPECT_EQ(s.table[0].aosPending, 1);
    EXPECT_TRUE(s.messages.Shown().empty());
  }
}

TEST(LocationFile, LoadStation) {
  // --- four lines, CRLF or LF, each the leading number of its line ---
  {
    StationUnderTest s;
    s.dir.Write("location.dat", "45.500000\r\n10.000000 east\r\n600.000000\r\n-1\r\n");
    EXPECT_TRUE(LoadStation(s.context));
    StationConfig expected;
    SetStation(expected, "45.5", "10", "600");
    EXPECT_DOUBLE_EQ(s.station.latitude, 45.5 * kRadiansPerDegree);
    EXPECT_DOUBLE_EQ(s.station.longitude, 10.0 * kRadiansPerDegree);
    EXPECT_DOUBLE_EQ(s.station.height, expected.height);
    EXPECT_GT(s.station.height, 0.0);
    EXPECT_DOUBLE_EQ(s.station.axisDistance, expected.axisDistance);
    EXPECT_DOUBLE_EQ(s.station.stationZ, expected.stationZ);
    EXPECT_TRUE(s.messages.Shown().empty());
  }
  // --- a file cut short: missing lines read as 0 ---
  {
    StationUnderTest s;
    s.dir.Write("location.dat", "-33.9\n");
    EXPECT_TRUE(LoadStation(s.context));
    EXPECT_DOUBLE_EQ(s.station.latitude, -33.9 * kRadiansPerDegree);
    EXPECT_EQ(s.station.longitude, 0.0);
    EXPECT_EQ(s.station.height, 0.0);
  }
  // --- what the station writes it reads back, however absurd the value (a fuzz finding:
  //     -7e104 with six decimals made a line too long to read) ---
  {
    StationUnderTest s;
    ASSERT_TRUE(WriteLocation(s.context, -70.0, -7e104, 1e300, 0));
    EXPECT_EQ(s.dir.Read("location.dat").substr(0, 11), "-70.000000\n");
    const LocationValues back = ReadLocation(s.dir.path());
    ASSERT_TRUE(back.found);
    EXPECT_EQ(back.longitude, -7e104);
    EXPECT_EQ(back.height, 1e300);
  }
  // --- missing: message, station at 0/0/0, the map images deleted and nothing else ---
  {
    StationUnderTest s;
    s.dir.Write("world.map", "w");
    s.dir.Write("zoom.map", "z");
    s.dir.Write("map.dat", "m");
    s.station.latitude = 1.0;
    s.station.longitude = 1.0;
    s.station.height = 1.0;
    EXPECT_FALSE(LoadStation(s.context));
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't find file location.dat"));
    EXPECT_EQ(s.station.latitude, 0.0);
    EXPECT_EQ(s.station.longitude, 0.0);
    EXPECT_EQ(s.station.height, 0.0);
    EXPECT_DOUBLE_EQ(s.station.axisDistance, 1.0);
    EXPECT_DOUBLE_EQ(s.station.stationZ, 0.0);
    EXPECT_FALSE(std::filesystem::exists(s.dir.path() / "world.map"));
    EXPECT_FALSE(std::filesystem::exists(s.dir.path() / "zoom.map"));
    EXPECT_TRUE(std::filesystem::exists(s.dir.path() / "map.dat"));
    // No map images to delete is no failure.
    EXPECT_FALSE(LoadStation(s.context));
    EXPECT_EQ(s.messages.Count("Can't find file location.dat"), 2u);
  }
  // --- reload: the station anew and every slot's pass state cleared ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 14\n \nNOAA 16\n");
    for (auto& slot : s.table) {
      slot.aosPending = 1;
      slot.inPass = 1;
    }
    s.dir.Write("location.dat", "60.0\n25.0\n0.0\n-2\n");
    ReloadStation(s.context);
    EXPECT_DOUBLE_EQ(s.station.latitude, 60.0 * kRadiansPerDegree);
    s.Install();
    for (const auto& slot : s.table) {
      EXPECT_EQ(slot.aosPending, 0);
      EXPECT_EQ(slot.inPass, 0);
    }
    EXPECT_TRUE(s.Active(0));
    EXPECT_TRUE(s.Active(2));
  }
}

// Sets TZ for one scope, restoring the previous value after.
class TimeZoneSetting {
 public:
  explicit TimeZoneSetting(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    hadOld_ = std::getenv("TZ") != nullptr;
    setenv("TZ", tz, 1);
  }
  ~TimeZoneSetting() {
    if (hadOld_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    MachineTimeZoneHours();  // re-reads the restored setting
  }

 private:
  std::string old_;
  bool hadOld_ = false;
};

TEST(LocationFile, TimeZoneHoursArePositiveWestAndCutTowardZero) {
  {
    TimeZoneSetting india("<+0530>-5:30");
    EXPECT_EQ(MachineTimeZoneHours(), -5);
  }
  {
    TimeZoneSetting brazil("<-03>3");
    EXPECT_EQ(MachineTimeZoneHours(), 3);
  }
  {
    TimeZoneSetting utc("UTC0");
    EXPECT_EQ(MachineTimeZoneHours(), 0);
  }
}

struct MapCheckCounter {
  int calls = 0;
  std::function<void()> Callback() {
    return [this] { ++calls; };
  }
};

TEST(LocationFile, UpdateLocation) {
  const std::string kOld = "45.500000\n10.000000\n600.000000\n-1\n";

  // --- the old values offered, line 4 included ---
  {
    StationUnderTest s;
    s.dir.Write("location.dat", "45.5\r\n10\r\n600\r\n-7\r\n");
    LocationValues old = ReadLocation(s.dir.path());
    EXPECT_TRUE(old.found);
    EXPECT_EQ(old.latitude, 45.5);
    EXPECT_EQ(old.longitude, 10.0);
    EXPECT_EQ(old.height, 600.0);
    EXPECT_EQ(old.timeZoneHours, -7);
  }
  // --- a new position: rewritten with "%f" and the old line 4, station reloaded ---
  {
    StationUnderTest s;
    s.dir.Write("location.dat", kOld);
    s.LoadList("NOAA 14\n");
    s.table[0].aosPending = 1;
    MapCheckCounter maps;
    UpdateLocation(s.context, ReadLocation(s.dir.path()), 52.25, -4.125, 120.0, maps.Callback());
    s.Install();
    EXPECT_EQ(s.dir.Read("location.dat"), "52.250000\n-4.125000\n120.000000\n-1\n");
    EXPECT_DOUBLE_EQ(s.station.latitude, 52.25 * kRadiansPerDegree);
    EXPECT_DOUBLE_EQ(s.station.longitude, -4.125 * kRadiansPerDegree);
    EXPECT_EQ(s.table[0].aosPending, 0);
    EXPECT_EQ(maps.calls, 1);
    EXPECT_TRUE(s.messages.Shown().empty());
  }
  // --- 40000 ft refused; nothing else changed, so nothing written or reloaded ---
  {
    StationUnderTest s;
    const std::string untidy = "45.5\n10\n600\n-1\n";  // not as "%f" writes it
    s.dir.Write("location.dat", untidy);
    s.table[0].aosPending = 1;
    MapCheckCounter maps;
    UpdateLocation(s.context, ReadLocation(s.dir.path()), 45.5, 10.0, 40000.0, maps.Callback());
    s.Install();
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Height must be between 0 and 30,000 ft"));
    EXPECT_EQ(s.dir.Read("location.dat"), untidy);
    EXPECT_EQ(s.table[0].aosPending, 1);
    EXPECT_EQ(maps.calls, 0);
  }
  // --- each bad value reported in order and replaced by its old value; the rest applies ---
  {
    StationUnderTest s;
    s.dir.Write("location.dat", kOld);
    MapCheckCounter maps;
    UpdateLocation(s.context, ReadLocation(s.dir.path()), 91.0, -180.5, 100.0, maps.Callback());
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Latitude must be between -90 and +90 degrees",
                                                "Longitude must be between -180 and +180 degrees"));
    EXPECT_EQ(s.dir.Read("location.dat"), "45.500000\n10.000000\n100.000000\n-1\n");
    EXPECT_EQ(maps.calls, 1);
  }
  // --- the range ends themselves are accepted; NaN is not ---
  {
    StationUnderTest s;
    s.dir.Write("location.dat", kOld);
    MapCheckCounter maps;
    UpdateLocation(s.context, ReadLocation(s.dir.path()), -90.0, 180.0, 30000.0, maps.Callback());
    EXPECT_TRUE(s.messages.Shown().empty());
    EXPECT_EQ(s.dir.Read("location.dat"), "-90.000000\n180.000000\n30000.000000\n-1\n");
    UpdateLocation(s.context, ReadLocation(s.dir.path()), std::nan(""), 180.0, 30000.0,
                   maps.Callback());
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Latitude must be between -90 and +90 degrees"));
    EXPECT_EQ(maps.calls, 1);
  }
  // --- no location.dat: 0/0/0 offered with the machine's time zone, and confirming creates it ---
  {
    TimeZoneSetting zone("<-03>3");
    StationUnderTest s;
    LocationValues old = ReadLocation(s.dir.path());
    EXPECT_FALSE(old.found);
    EXPECT_EQ(old.latitude, 0.0);
    EXPECT_EQ(old.longitude, 0.0);
    EXPECT_EQ(old.height, 0.0);
    EXPECT_EQ(old.timeZoneHours, 3);
    MapCheckCounter maps;
    UpdateLocation(s.context, old, 0.0, 0.0, 0.0, maps.Callback());
    EXPECT_EQ(s.dir.Read("location.dat"), "0.000000\n0.000000\n0.000000\n3\n");
    EXPECT_EQ(maps.calls, 1);
    EXPECT_TRUE(s.messages.Shown().empty());  // the reload found the new file
  }
  // --- a file without its time-zone line gets the machine's ---
  {
    TimeZoneSetting zone("<+0530>-5:30");
    StationUnderTest s;
    s.dir.Write("location.dat", "1\n2\n3\n");
    EXPECT_EQ(ReadLocation(s.dir.path()).timeZoneHours, -5);
  }
}

// Makes the next atomic rewrite of `file` fail: its temporary name is taken by a directory
// (works even for root, which ignores permission bits).
void BlockRewrite(const StationUnderTest& s, const std::string& file) {
  std::filesystem::create_directory(s.dir.path() / (file + ".new"));
}

TEST(FailedWrites, LeaveTheOldFileWholeAndSaySo) {
  // --- sats.dat ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 14\n");
    s.dir.Write("sats.dat", "NOAA 15\n \n \n \n \n \n");
    BlockRewrite(s, "sats.dat");
    EXPECT_FALSE(SaveSatellites(s.context));
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't write file sats.dat"));
    EXPECT_EQ(s.dir.Read("sats.dat"), "NOAA 15\n \n \n \n \n \n");
  }
  // --- minel.dat ---
  {
    StationUnderTest s;
    s.dir.Write("minel.dat", "5.000000\n");
    BlockRewrite(s, "minel.dat");
    s.station.minimumElevation = 10 * kRadiansPerDegree;
    EXPECT_FALSE(SaveMinimumElevation(s.context));
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't write file minel.dat"));
    EXPECT_EQ(s.dir.Read("minel.dat"), "5.000000\n");
    // The Minimum Elevation command still takes the value for this run.
    s.messages.Clear();
    UpdateMinimumElevation(s.context, 15.0);
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't write file minel.dat"));
    EXPECT_NEAR(s.station.minimumElevation, 15 * kRadiansPerDegree, kMicroDegree);
  }
  // --- location.dat: the station keeps its values and the map files are not checked ---
  {
    StationUnderTest s;
    s.dir.Write("location.dat", "45.500000\n10.000000\n600.000000\n-1\n");
    LoadStation(s.context);
    s.table[0].aosPending = 1;
    BlockRewrite(s, "location.dat");
    MapCheckCounter maps;
    UpdateLocation(s.context, ReadLocation(s.dir.path()), 50.0, 10.0, 600.0, maps.Callback());
    s.Install();
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't write file location.dat"));
    EXPECT_EQ(s.dir.Read("location.dat"), "45.500000\n10.000000\n600.000000\n-1\n");
    EXPECT_DOUBLE_EQ(s.station.latitude, 45.5 * kRadiansPerDegree);
    EXPECT_EQ(s.table[0].aosPending, 1);
    EXPECT_EQ(maps.calls, 0);
  }
}

TEST(SatellitesFile, LoadFillsSlotsInOrder) {
  // --- a name that fails does not leave a gap: later names move up ---
  {
    StationUnderTest s;
    s.dir.Write("sats.dat", "NOAA 14\nNOAA 99\nNOAA 16\n");
    LoadSatellites(s.context);
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Satellite not found in Ephemeris file"));
    EXPECT_EQ(s.Name(0), "NOAA 14");
    EXPECT_EQ(s.Name(1), "NOAA 16");
    for (int i = 2; i < 6; ++i) EXPECT_FALSE(s.Active(i)) << i;
  }
  // --- a blank first line keeps slot 0 empty ---
  {
    StationUnderTest s;
    s.dir.Write("sats.dat", " \nNOAA 15\n \n \n \n \n");
    LoadSatellites(s.context);
    EXPECT_TRUE(s.messages.Shown().empty());
    EXPECT_FALSE(s.Active(0));
    EXPECT_TRUE(s.Active(1));
    EXPECT_EQ(s.Name(1), "NOAA 15");
  }
  // --- names are found ignoring case and keep the element file's spelling; CRLF lines ---
  {
    StationUnderTest s;
    s.dir.Write("sats.dat", "noaa 15\r\n \r\ngoes 12\r\n");
    LoadSatellites(s.context);
    EXPECT_TRUE(s.messages.Shown().empty());
    EXPECT_EQ(s.Name(0), "NOAA 15");
    EXPECT_FALSE(s.Active(1));
    EXPECT_EQ(s.Name(2), "GOES 12");
  }
  // --- a bad element set shows its code's message and its name is skipped too ---
  {
    StationUnderTest s;
    s.dir.Write("sats.dat", "NOAA 17\nNOAA 12\n");
    LoadSatellites(s.context);
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Checksum Error in Ephemeris Data"));
    EXPECT_EQ(s.Name(0), "NOAA 12");
    EXPECT_FALSE(s.Active(1));
  }
  // --- an over-long line is one failed name: its tail never becomes the next slot's name ---
  {
    StationUnderTest s;
    s.dir.Write("sats.dat", "A NAME MUCH TOO LONG FOR NOAA 15\nNOAA 16\n");
    LoadSatellites(s.context);
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Satellite not found in Ephemeris file"));
    EXPECT_EQ(s.Name(0), "NOAA 16");
    EXPECT_FALSE(s.Active(1));
  }
  // --- an empty line (a blank stripped by an editor) keeps its slot empty like a blank ---
  {
    StationUnderTest s;
    s.dir.Write("sats.dat", "\nNOAA 14\n");
    LoadSatellites(s.context);
    EXPECT_TRUE(s.messages.Shown().empty());
    EXPECT_FALSE(s.Active(0));
    EXPECT_EQ(s.Name(1), "NOAA 14");
  }
  // --- a trailing blank is part of the name, so it is not found ---
  {
    StationUnderTest s;
    s.dir.Write("sats.dat", "NOAA 14 \n");
    LoadSatellites(s.context);
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Satellite not found in Ephemeris file"));
    EXPECT_FALSE(s.Active(0));
  }
  // --- lines after the sixth slot are not read ---
  {
    StationUnderTest s;
    s.dir.Write("sats.dat", " \n \n \n \n \nNOAA 12\nNOAA 14\nNOAA 99\n");
    LoadSatellites(s.context);
    EXPECT_TRUE(s.messages.Shown().empty());
    EXPECT_EQ(s.Name(5), "NOAA 12");
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(s.Active(i)) << i;
  }
}

TEST(SatellitesFile, MissingFilesLeaveTheTableEmpty) {
  // --- no elements.dat ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 14\n");
    ASSERT_TRUE(s.Active(0));
    std::filesystem::remove(s.dir.path() / "elements.dat");
    LoadSatellites(s.context);
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't find file elements.dat"));
    EXPECT_FALSE(s.Active(0));
  }
  // --- no sats.dat ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 14\n");
    std::filesystem::remove(s.dir.path() / "sats.dat");
    LoadSatellites(s.context);
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't find file sats.dat"));
    for (int i = 0; i < 6; ++i) EXPECT_FALSE(s.Active(i)) << i;
  }
}

TEST(StationFiles, ADirectoryFifoOrOverLongLineInAFilesPlaceIsNoFile) {
  // Each file in turn replaced by a directory and by a FIFO without a writer (which would hold
  // the tracking thread for ever if opened blocking): the file's own "Can't find" message.
  const std::vector<std::string> files = {"minel.dat", "location.dat", "sats.dat", "elements.dat"};
  for (const std::string& file : files) {
    for (bool fifo : {false, true}) {
      SCOPED_TRACE(file + (fifo ? " as a FIFO" : " as a directory"));
      StationUnderTest s;
      s.dir.Write("sats.dat", "NOAA 14\n");
      s.dir.Write("location.dat", "40.0\n-75.0\n100\n5\n");
      s.dir.Write("minel.dat", "5.0\n");
      const std::filesystem::path path = s.dir.path() / file;
      std::filesystem::remove(path);
      if (fifo) {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      } else {
        std::filesystem::create_directory(path);
      }
      LoadMinimumElevation(s.context);
      LoadStation(s.context);
      LoadSatellites(s.context);
      EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't find file " + file));
      EXPECT_EQ(s.Active(0), file != "sats.dat" && file != "elements.dat");
    }
  }

  StationUnderTest s;
  // A sats.dat name starting with NUL names no satellite (it would load as an empty name).
  s.LoadList(std::string("\0NOAA 14\nNOAA 15\r\r\n", 19));
  EXPECT_EQ(s.Name(0), "NOAA 15");
  EXPECT_FALSE(s.Active(1));
}

TEST(StationFiles, ADamagedLineIsNamedAndTheReadableValuesKept) {
  // An over-long or binary line is never read as a value, nor taken for a missing file: its own
  // message, the other lines' values, and the files and map images left as they are.
  const std::string longLine(100000, '1');
  const std::string binary("1\0\x01\xff", 4);
  struct Case {
    std::string location;
    std::string minel;
    double latitude, longitude, height, minimumDeg;
    std::vector<std::string> messages;
  };
  const std::vector<Case> cases = {
      {"40.0\n" + longLine + "\n100\n5\n",
       "10.0\n",
       40.0,
       0.0,
       100.0,
       10.0,
       {"location.dat line 2 is longer than 79 characters: its value reads as 0; the file is "
        "left as it is"}},
      {"40.0\n-75.0\n" + binary + "\n5\n",
       "1" + std::string(200, '0') + "\n",
       40.0,
       -75.0,
       0.0,
       5.0,
       {"minel.dat line 1 is longer than 79 characters: the minimum elevation is 5 degrees; the "
        "file is left as it is",
        "location.dat line 3 holds bytes that are not text: its value reads as 0; the file is "
        "left as it is"}},
      {"40.0\n-75.0\n100\n5\n",
       binary + "\n",
       40.0,
       -75.0,
       100.0,
       5.0,
       {"minel.dat line 1 holds bytes that are not text: the minimum elevation is 5 degrees; the "
        "file is left as it is"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.messages.back());
    StationUnderTest s;
    s.dir.Write("location.dat", c.location);
    s.dir.Write("minel.dat", c.minel);
    s.dir.Write("world.map", "w");
    const ListAsRead minel = MinimumElevationAsRead(s.context, LoadMinimumElevation(s.context));
    EXPECT_TRUE(LoadStation(s.context));
    EXPECT_EQ(s.messages.Shown(), c.messages);
    EXPECT_NEAR(s.station.latitude * kDisplayDegreesPerRadian, c.latitude, 1e-9);
    EXPECT_NEAR(s.station.longitude * kDisplayDegreesPerRadian, c.longitude, 1e-9);
    StationConfig expected;
    SetStation(expected, "0", "0", std::to_string(c.height));
    EXPECT_DOUBLE_EQ(s.station.height, expected.height);
    EXPECT_NEAR(s.station.minimumElevation * kDisplayDegreesPerRadian, c.minimumDeg, 1e-9);
    EXPECT_TRUE(ReadLocation(s.dir.path()).found);
    SaveMinimumElevationAtShutDown(s.context, minel);
    EXPECT_EQ(s.dir.Read("location.dat"), c.location);
    EXPECT_EQ(s.dir.Read("minel.dat"), c.minel);
    EXPECT_TRUE(std::filesystem::exists(s.dir.path() / "world.map"));
  }
}

TEST(SatellitesFile, ShutDownSavesTheEditsAndKeepsTheLinesThatDidNotLoad) {
  const std::string notFound = ElementSetMessage(ElementSetResult::SatelliteNotFound);
  const std::string noElements = ElementSetMessage(ElementSetResult::FileMissing);
  const std::string longName(100, 'X');
  const std::string saved =
      "sats.dat saved with the changes made to the list; kept as they were, not loaded at "
      "start-up: ";
  struct Case {
    const char* what;
    bool elementsAtStart;
    std::string satsDat;
    std::vector<std::string> add, remove;
    std::string written;  // empty: the file is left byte for byte
    std::string message;  // empty: none at shut-down
  };
  const std::vector<Case> cases = {
      {"a name not found, one added",
       true,
       "NOAA 14\nNOAA 99\nNOAA 16\n \n \n \n",
       {"NOAA 15"},
       {},
       "NOAA 14\nNOAA 99\nNOAA 16\nNOAA 15\n \n \n",
       saved + "NOAA 99 (" + notFound + ")"},
      {"a name not found, one deleted",
       true,
       "NOAA 14\nNOAA 99\r\nNOAA 16\n",
       {},
       {"noaa 14"},
       " \nNOAA 99\nNOAA 16\n \n \n \n",
       saved + "NOAA 99 (" + notFound + ")"},
      {"deleted and added (a replacement)",
       true,
       longName + "\nNOAA 14\n",
       {"NOAA 12"},
       {"NOAA 14"},
       longName + "\nNOAA 12\n \n \n \n \n",
       saved + longName + " (" + notFound + ")"},
      {"elements.dat missing, then updated",
       false,
       "NOAA 14\n \nNOAA 16\n",
       {"NOAA 15"},
       {},
       "NOAA 14\nNOAA 15\nNOAA 16\n \n \n \n",
       saved + "NOAA 14 (" + noElements + "), NOAA 16 (" + noElements + ")"},
      {"nothing changed", true, "NOAA 99\r\nNOAA 14", {}, {}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StationUnderTest s;
    if (!c.elementsAtStart) std::filesystem::remove(s.dir.path() / "elements.dat");
    s.dir.Write("sats.dat", c.satsDat);
    std::vector<KeptLine> unloaded;
    const bool loaded = LoadSatellites(s.context, &unloaded);
    const ListAsRead asRead = SatellitesAsRead(s.context, loaded, unloaded);
    s.dir.Write("elements.dat", testing::kAllElements);
    std::vector<std::string> before;  // the table as the run left it
    for (const std::string& name : c.remove) DeleteSatellite(s.context, name);
    for (const std::string& name : c.add) AddSatellite(s.context, name);
    s.Install();
    for (int i = 0; i < kSlotCount; ++i) before.push_back(s.Active(i) ? s.Name(i) : "-");
    s.messages.Clear();
    SaveSatellitesAtShutDown(s.context, asRead);
    EXPECT_EQ(s.dir.Read("sats.dat"), c.written.empty() ? c.satsDat : c.written);
    EXPECT_EQ(s.messages.Shown(),
              c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    // Read again (the kept names failing as before), the file gives the table the run ended
    // with.
    std::filesystem::remove(s.dir.path() / "elements.dat");
    s.dir.Write("elements.dat", testing::kAllElements);
    LoadSatellites(s.context);
    std::vector<std::string> after;
    for (int i = 0; i < kSlotCount; ++i) after.push_back(s.Active(i) ? s.Name(i) : "-");
    if (c.elementsAtStart) {
      EXPECT_EQ(after, before);
    }
  }

  // A sats.dat that could not be read at all is left alone, and the lost edits are named.
  StationUnderTest s;
  std::filesystem::create_directory(s.dir.path() / "sats.dat");
  const ListAsRead asRead = SatellitesAsRead(s.context, LoadSatellites(s.context));
  AddSatellite(s.context, "NOAA 15");
  s.Install();
  s.messages.Clear();
  SaveSatellitesAtShutDown(s.context, asRead);
  EXPECT_THAT(s.messages.Shown(), ElementsAre("sats.dat could not be read at start-up: the "
                                              "changes made to the list are not saved"));
  EXPECT_TRUE(std::filesystem::is_directory(s.dir.path() / "sats.dat"));
}

TEST(SatellitesFile, SaveWritesOneLinePerSlot) {
  // --- slots 0 and 2 active: name, blank, name, three blanks ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 14\n \nnoaa 16\n");
    EXPECT_TRUE(SaveSatellites(s.context));
    EXPECT_EQ(s.dir.Read("sats.dat"), "NOAA 14\n \nNOAA 16\n \n \n \n");
    EXPECT_FALSE(std::filesystem::exists(s.dir.path() / "sats.dat.new"));
  }
  // --- what was saved loads into the same slots ---
  {
    StationUnderTest s;
    s.LoadList(" \nGOES 12\n \n \nHETE-2\n");
    ASSERT_TRUE(SaveSatellites(s.context));
    for (auto& slot : s.table) slot.active.store(0);
    LoadSatellites(s.context);
    EXPECT_TRUE(s.messages.Shown().empty());
    std::vector<std::string> names;
    for (int i = 0; i < 6; ++i) names.push_back(s.Active(i) ? s.Name(i) : "-");
    EXPECT_THAT(names, ElementsAre("-", "GOES 12", "-", "-", "HETE-2", "-"));
  }
  // --- an empty table writes six blank lines ---
  {
    StationUnderTest s;
    EXPECT_TRUE(SaveSatellites(s.context));
    EXPECT_EQ(s.dir.Read("sats.dat"), " \n \n \n \n \n \n");
  }
}

}  // namespace
}  // namespace halvik
