// What the station's reports say of a refused GPS time and of old element sets: the headless
// status line, /status.json and /metrics, on a station that is built but not started.

#include <gtest/gtest.h>

#include <string>

#include "app/Headless.h"
#include "app/Station.h"
#include "orbit/ElementSet.h"
#include "platform/Clock.h"
#include "support/SimStationParts.h"
#include "support/TempDir.h"
#include "web/Metrics.h"
#include "web/StationJson.h"

namespace halvik::web {
namespace {

// NOAA 12 of 2000-11-16 and GOES 12 of 2007 day 359.12381461 (2007-12-25 02:58:17.1 UTC).
constexpr const char* kNoaa12[] = {
    "1 21263U 91032A   00321.95002677  .00000715  00000-0  33157-3 0  9660",
    "2 21263  98.5585 313.6325 0011897 261.8628  98.1195 14.23742600493961"};
constexpr const char* kGoes12[] = {
    "1 26871U 01031A   07359.12381461 -.00000244  00000-0  00000-0 0  3602",
    "2 26871   0.4626 264.8340 0001263 119.7249  37.7290  1.00277156 23592"};
// 2000-01-01 and 2007-01-01 00:00 UTC, and GOES 12's epoch from its day of year.
constexpr double kYear2000 = 946684800.0;
constexpr double kYear2007 = 1167609600.0;
constexpr double kGoesEpoch = kYear2007 + (359.12381461 - 1.0) * 86400.0;

TEST(StationWarnings, RefusedGpsTimeAndOldElementSets) {
  // Five days after GOES 12's epoch, on a clock corrected by 2 s.
  const auto now = static_cast<std::int64_t>(kGoesEpoch) + 5 * 86400;
  TempDir dir;
  ManualClock clock(SystemTime{now - 2, 0});
  testing::SimStationParts parts(dir.path(), clock);
  Station station(parts.environment);
  ASSERT_EQ(ParseElementSet("NOAA 12", kNoaa12[0], kNoaa12[1], station.table[0]),
            ElementSetResult::Ok);
  ASSERT_EQ(ParseElementSet("GOES \"12\"", kGoes12[0], kGoes12[1], station.table[3]),
            ElementSetResult::Ok);
  station.tracking.ClockCorrection = 2.0;

  // --- all well: no mark on any report ---
  std::string line = StatusLine(station, now);
  std::string metrics = MetricsText(station, nullptr, std::nullopt);
  nlohmann::json status = StatusJson(station, nullptr);
  EXPECT_EQ(line.find("gps-time-refused"), std::string::npos);
  EXPECT_NE(metrics.find("\nhalvik_gps_time_refused 0\n"), std::string::npos);
  EXPECT_FALSE(status["gps"]["time_refused"]);

  // --- the GPS time refused, and nothing predictable ---
  station.tracking.GpsTimeRefused = 1;
  station.tracking.NothingPredictable = 1;
  line = StatusLine(station, now);
  metrics = MetricsText(station, nullptr, std::nullopt);
  status = StatusJson(station, nullptr);
  EXPECT_NE(line.find(" clk 2.00 s gps-time-refused rx "), std::string::npos) << line;
  EXPECT_NE(metrics.find("\nhalvik_gps_time_refused 1\n"), std::string::npos);
  EXPECT_TRUE(status["gps"]["time_refused"]);
  EXPECT_NE(line.find(" | nothing predictable"), std::string::npos) << line;
  EXPECT_NE(metrics.find("\nhalvik_nothing_predictable 1\n"), std::string::npos);
  EXPECT_TRUE(status["nothing_predictable"]);

  // --- element ages on the station clock: NOAA 12's set is seven years old, GOES 12's five
  //     days; only the first is past the 14 days ---
  const std::string old = " | old elements: NOAA 12 ";
  ASSERT_NE(line.find(old), std::string::npos) << line;
  EXPECT_EQ(line.find("GOES"), std::string::npos) << line;
  const double noaaDays = std::stod(line.substr(line.find(old) + old.size()));
  const double noaaEpoch = kYear2000 + (321.95002677 - 1.0) * 86400.0;
  EXPECT_NEAR(noaaDays, (static_cast<double>(now) - noaaEpoch) / 86400.0, 0.5);
  const std::string goesSample = "halvik_element_age_seconds{satellite=\"GOES \\\"12\\\"\"} ";
  const std::size_t at = metrics.find(goesSample);
  ASSERT_NE(at, std::string::npos) << metrics;
  EXPECT_NEAR(std::stod(metrics.substr(at + goesSample.size())), 5 * 86400.0, 1.0);
  EXPECT_NE(metrics.find("halvik_element_age_seconds{satellite=\"NOAA 12\"} "), std::string::npos);
  ASSERT_EQ(status["satellites"].size(), 2u);
  EXPECT_TRUE(status["satellites"][0]["elements_stale"]);
  EXPECT_FALSE(status["satellites"][1]["elements_stale"]);
  EXPECT_NEAR(status["satellites"][1]["element_age_s"].get<double>(), 5 * 86400.0, 1.0);
  EXPECT_EQ(status["element_age_limit_days"], 14.0);
}

}  // namespace
}  // namespace halvik::web
