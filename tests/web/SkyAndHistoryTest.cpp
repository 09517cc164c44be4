// The sky plot against the station's own pass prediction, the antenna's trail, and the pass
// history from records as a disk may hold them, some broken.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "app/Station.h"
#include "orbit/ElementSet.h"
#include "orbit/PassPrediction.h"
#include "orbit/PropagateListing.h"
#include "orbit/StationGeometry.h"
#include "orbit/TestElements.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Units.h"
#include "support/SimStationParts.h"
#include "support/TempDir.h"
#include "web/History.h"
#include "web/SkyPlot.h"

namespace halvik::web {
namespace {

constexpr double kMinimumDeg = 5.0;
// The elevation a satellite climbs in the second the stored AOS is truncated by, with room.
constexpr double kOneSecondOfClimbDeg = 0.2;

// The plot's elevation at its coordinates: the inverse of SkyToPlot's radius.
double PlotElevation(double x, double y) {
  return 90.0 - std::hypot(x - 200.0, y - 200.0) / 180.0 * 90.0;
}

TEST(SkyPlot, PassEndsAtTheListedAosAndLosAndTheFlipIsMarked) {
  TempDir dir;
  ManualClock clock(SystemTime{1249300000, 0});  // 2009-08-03, NOAA 15's epoch day
  testing::SimStationParts parts(dir.path(), clock);
  Station station(parts.environment);
  ASSERT_EQ(ParseElementSet("NOAA 15", kNoaa15Line1, kNoaa15Line2, station.table[2]),
            ElementSetResult::Ok);
  SetStation(station.station, "56", "10", "100");
  station.station.minimumElevation = Radians(kMinimumDeg);
  const ElementSet elements = station.table[2].Elements();

  // A day of passes as the listing finds them: at least one flipped and one not.
  std::vector<PassTimes> passes;
  double from = Tsince(1249300000.0, elements.epochMinutes);
  for (int i = 0; i < 8; ++i) {
    const PassTimes pass = FindNextPass(elements, station.station, from);
    ASSERT_TRUE(pass.found);
    passes.push_back(pass);
    from = TsinceOf(pass.losTime + 1, elements.epochMinutes);
  }
  int flipped = 0, plain = 0;
  for (const PassTimes& pass : passes) {
    SCOPED_TRACE(FormatIsoUtc(static_cast<double>(pass.aosTime)));
    PassListing listing;
    listing.passes.push_back({2, "NOAA 15", pass.aosTime, pass.losTime,
                              pass.maxElevation * kDisplayDegreesPerRadian, pass.northbound,
                              pass.flip});
    AntennaTrail trail;
    const std::int64_t mid = (pass.aosTime + pass.losTime) / 2;
    const SkyPlot plot = MakeSkyPlot(station, listing, mid, trail);
    ASSERT_TRUE(plot.havePass);
    ASSERT_GE(plot.track.size(), 2u);
    // The ends are the listed AOS and LOS, where the satellite crosses the minimum elevation.
    EXPECT_EQ(plot.track.front().time, pass.aosTime);
    EXPECT_EQ(plot.track.back().time, pass.losTime);
    EXPECT_NEAR(plot.track.front().elevationDeg, kMinimumDeg, kOneSecondOfClimbDeg);
    EXPECT_NEAR(plot.track.back().elevationDeg, kMinimumDeg, kOneSecondOfClimbDeg);
    ASSERT_TRUE(plot.satellite.has_value());  // mid-pass it is up
    EXPECT_GT(plot.satellite->elevationDeg, kMinimumDeg);

    const std::string svg = SkyPlotSvg(plot);
    EXPECT_NE(svg.find("data-aos=\"" + FormatIsoUtc(static_cast<double>(pass.aosTime)) + "\""),
              std::string::npos);
    EXPECT_NE(svg.find("data-los=\"" + FormatIsoUtc(static_cast<double>(pass.losTime)) + "\""),
              std::string::npos);
    // The AOS and LOS marks sit on the minimum elevation circle.
    for (const char* id : {"aos", "los"}) {
      std::smatch m;
      const std::regex mark(std::string("id=\"") + id + "\" cx=\"([0-9.]+)\" cy=\"([0-9.]+)\"");
      ASSERT_TRUE(std::regex_search(svg, m, mark)) << id;
      EXPECT_NEAR(PlotElevation(std::stod(m[1]), std::stod(m[2])), kMinimumDeg, 0.5) << id;
    }
    const bool marked = svg.find("id=\"flip\"") != std::string::npos;
    EXPECT_EQ(marked, pass.flip);
    (pass.flip ? flipped : plain)++;
  }
  EXPECT_GT(flipped, 0);
  EXPECT_GT(plain, 0);

  // After the last LOS there is nothing left to plot.
  PassListing ended;
  ended.passes.push_back({2, "NOAA 15", passes[0].aosTime, passes[0].losTime, 40, true, false});
  AntennaTrail none;
  EXPECT_FALSE(MakeSkyPlot(station, ended, passes[0].losTime + 1, none).havePass);
}

TEST(SkyPlot, TrailKeepsTheReadBackOfAFollowedPassAsSkyDirections) {
  AntennaState antenna;
  antenna.AntennaPower = 100;
  AntennaTrail trail;
  auto sample = [&](std::int64_t t, float az, float el, bool following) {
    antenna.AntennaAzimuth = az;
    antenna.AntennaElevation = el;
    trail.Sample(t, antenna, following);
  };
  sample(10, 100, 20, true);
  sample(10, 101, 21, true);       // the same second: kept once
  sample(11, 170, 160, true);      // over the top: the sky point is az 350, el 20
  sample(12, -2.93f, 20, true);    // under the azimuth limit: no direction
  sample(13, 120, 181.46f, true);  // over the elevation limit
  sample(14, 120, 30, false);      // nothing followed
  antenna.AntennaPower = 50;       // no power
  sample(15, 120, 30, true);
  const std::vector<SkyPoint> points = trail.Between(0, 100);
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[0].time, 10);
  EXPECT_DOUBLE_EQ(points[0].azimuthDeg, 100);
  EXPECT_DOUBLE_EQ(points[1].azimuthDeg, 350);
  EXPECT_DOUBLE_EQ(points[1].elevationDeg, 20);
  EXPECT_EQ(trail.Between(11, 11).size(), 1u);
  antenna.AntennaPower = 100;
  for (std::int64_t t = 100; t < 100 + 2 * static_cast<std::int64_t>(AntennaTrail::kMaxPoints); ++t)
    sample(t, 10, 10, true);
  EXPECT_EQ(trail.Between(0, 1 << 30).size(), AntennaTrail::kMaxPoints);
}

std::string Record(const char* satellite, const std::string& first, double lock, const char* ber) {
  return Format(
      R"({"satellite": "%s", "first_frame_utc": "%s", "lock_fraction": %g,
          "bit_error_rate": %s, "frames_written": 1000, "frames_with_sync": 990})",
      satellite, first.c_str(), lock, ber);
}

TEST(PassHistory, LastThirtyPassesPerSatelliteFromWhateverRecordsAreThere) {
  TempDir dir;
  const std::filesystem::path d = dir.path();
  // 35 passes of NOAA 15, a day apart from 2009-07-01 10:00 UTC: only the last 30 are charted.
  constexpr std::int64_t kJuly1 = 1246442400;
  for (int day = 1; day <= 35; ++day) {
    const std::string capture = Format("Mo%02dJan%c.N15", (day - 1) % 28 + 1, 'A' + (day - 1) / 28);
    WriteFileAtomically(d / capture, "x");
    WriteFileAtomically(d / (capture + ".json"),
                        Record("NOAA 15", FormatIsoUtc(kJuly1 + day * 86400.0), 0.9, "1e-05"));
  }
  // Broken records beside good ones: cut short, not an object, fields of the wrong kind, no
  // satellite, no record at all, and a record that is a directory.
  WriteFileAtomically(d / "Tu01FebA.str", "x");
  WriteFileAtomically(d / "Tu01FebA.str.json", R"({"satellite": "SEASTAR", "lock_fr)");
  WriteFileAtomically(d / "Tu01FebB.str", "x");
  WriteFileAtomically(d / "Tu01FebB.str.json", "[1, 2, 3]");
  WriteFileAtomically(d / "Tu01FebC.str", "x");
  WriteFileAtomically(d / "Tu01FebC.str.json",
                      R"({"satellite": "SEASTAR", "first_frame_utc": 12, "lock_fraction": "all",
                          "bit_error_rate": null, "frames_written": 0, "frames_with_sync": 5})");
  WriteFileAtomically(d / "Tu01FebD.str", "x");
  WriteFileAtomically(d / "Tu01FebD.str.json", R"({"lock_fraction": 0.5})");
  WriteFileAtomically(d / "Tu01FebE.str", "x");
  WriteFileAtomically(d / "Tu01FebF.str", "x");
  std::filesystem::create_directory(d / "Tu01FebF.str.json");

  const std::vector<RecordFile> files = ListRecordFiles(d);
  EXPECT_EQ(files.size(), 35u + 4u);  // the directory is no record, the missing one neither
  const std::vector<PassQuality> passes = ReadPassQualities(d, files);
  ASSERT_EQ(passes.size(), 30u + 1u);
  // By satellite name, then oldest first: the wrong-kind record keeps only its name.
  EXPECT_EQ(passes[0].satellite, "NOAA 15");
  EXPECT_EQ(passes[29].satellite, "NOAA 15");
  for (std::size_t i = 1; i < 30; ++i) EXPECT_LT(passes[i - 1].firstFrame, passes[i].firstFrame);
  EXPECT_EQ(passes[0].firstFrame, kJuly1 + 6 * 86400);  // the 30th newest
  EXPECT_DOUBLE_EQ(*passes[0].lockFraction, 0.9);
  EXPECT_DOUBLE_EQ(*passes[0].bitErrorRate, 1e-5);
  EXPECT_NEAR(*passes[0].frameErrorRate, 0.01, 1e-12);
  const PassQuality& odd = passes[30];
  EXPECT_EQ(odd.satellite, "SEASTAR");
  EXPECT_FALSE(odd.lockFraction || odd.bitErrorRate || odd.frameErrorRate);

  const std::string svg = HistorySvg(passes);
  EXPECT_NE(svg.find("data-name=\"NOAA 15\" data-passes=\"30\""), std::string::npos);
  EXPECT_NE(svg.find("data-name=\"SEASTAR\" data-passes=\"1\""), std::string::npos);
  EXPECT_EQ(RecordFilesKey(files), RecordFilesKey(ListRecordFiles(d)));
  WriteFileAtomically(d / "Tu01FebD.str.json", R"({"lock_fraction": 0.6})");
  std::filesystem::last_write_time(
      d / "Tu01FebD.str.json",
      std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));
  EXPECT_NE(RecordFilesKey(files), RecordFilesKey(ListRecordFiles(d)));
}

}  // namespace
}  // namespace halvik::web
