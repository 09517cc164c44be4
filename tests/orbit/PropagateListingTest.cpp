#include "orbit/PropagateListing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "orbit/ElementSet.h"
#include "orbit/TestElements.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<double> Numbers(const std::string& line, std::size_t skip = 0) {
  std::vector<double> values;
  std::istringstream in(line);
  std::string word;
  for (std::size_t i = 0; in >> word; ++i) {
    if (i >= skip) values.push_back(std::stod(word));
  }
  return values;
}

TEST(PropagateListing, ReportCaseByMinutes) {
  TempDir dir;
  dir.Write("elements.dat", "STR3 SGP4 TEST\n" + k88888Line1 + "\n" + k88888Line2 + "\n");
  PropagateOptions options;
  options.elementsFile = dir.path() / "elements.dat";
  options.name = "str3 sgp4 test";
  options.minutes = {0, 360, 1440};
  std::string out;
  ASSERT_EQ(WritePropagateListing(options, out), ElementSetResult::Ok);
  std::vector<std::string> lines = Lines(out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "# tsince_min x_km y_km z_km xdot_km_s ydot_km_s zdot_km_s");
  // Seven fields with eight decimals each, single blanks.
  EXPECT_EQ(lines[1].substr(0, 22), "0.00000000 2328.970702");
  EXPECT_EQ(lines[1].find("  "), std::string::npos);
  const double expected[3][7] = {
      {0, 2328.97048951, -5995.22076416, 1719.97067261, 2.91207230, -0.98341546, -7.09081703},
      {360, 2456.10705566, -6071.93853760, 1222.89727783, 2.67938992, -0.44829041, -7.22879231},
      {1440, 2742.55133057, -6079.67144775, -326.38095856, 1.94850229, 1.21106251, -7.35619372}};
  for (int row = 0; row < 3; ++row) {
    std::vector<double> v = Numbers(lines[row + 1]);
    ASSERT_EQ(v.size(), 7u);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(v[i], expected[row][i], 0.015) << row << " " << i;
    for (int i = 4; i < 7; ++i) EXPECT_NEAR(v[i], expected[row][i], 2e-5) << row << " " << i;
    const std::string& line = lines[row + 1];
    std::size_t dot = line.find('.');
    std::size_t blank = line.find(' ');
    EXPECT_EQ(blank - dot, 9u);  // %.8f
  }
}

TEST(PropagateListing, ByTimeWithAStation) {
  TempDir dir;
  dir.Write("elements.dat", "NOAA 15\n" + kNoaa15Line1 + "\n" + kNoaa15Line2 + "\n");
  PropagateOptions options;
  options.elementsFile = dir.path() / "elements.dat";
  options.name = "NOAA 15";
  // Epoch 2009-08-03 09:15:18.8605 UTC.
  options.fromSeconds = ParseIsoUtc("2009-08-03T09:15:18Z");
  options.stepSeconds = 30;
  options.count = 3;
  options.station = std::vector<std::string>{"52.5", "13.4", "200"};
  std::string out;
  ASSERT_EQ(WritePropagateListing(options, out), ElementSetResult::Ok);
  std::vector<std::string> lines = Lines(out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "# utc tsince_min x_km y_km z_km xdot_km_s ydot_km_s zdot_km_s az_deg el_deg range_km "
            "sublat_deg sublon_deg");
  EXPECT_EQ(lines[1].substr(0, 21), "2009-08-03T09:15:18Z ");
  EXPECT_EQ(lines[3].substr(0, 21), "2009-08-03T09:16:18Z ");
  std::vector<double> first = Numbers(lines[1], 1);
  std::vector<double> last = Numbers(lines[3], 1);
  ASSERT_EQ(first.size(), 12u);
  EXPECT_NEAR(first[0], -0.8605 / 60, 1e-6);  // a little before the epoch
  EXPECT_NEAR(last[0] - first[0], 1.0, 1e-9);
  // At the epoch the satellite crosses the equator (z ~ 0) at 98.6 deg inclination.
  EXPECT_NEAR(first[3], 0.0, 7.5);
  EXPECT_NEAR(first[10], 0.0, 0.1);  // sub-satellite latitude
  EXPECT_GE(first[7], 0.0);          // azimuth in [0, 360)
  EXPECT_LT(first[7], 360.0);
  EXPECT_LT(first[8], 0.0);  // from Berlin, an equator crossing is below the horizon
  EXPECT_GT(first[9], 6000.0);
  // Station fields carry six decimals.
  std::size_t lastBlank = lines[1].rfind(' ');
  EXPECT_EQ(lines[1].size() - lines[1].find('.', lastBlank), 7u);
}

TEST(PropagateListing, LookupFailuresWriteNothing) {
  TempDir dir;
  PropagateOptions options;
  options.elementsFile = dir.path() / "elements.dat";
  options.name = "NOAA 15";
  options.minutes = {0};
  std::string out;
  EXPECT_EQ(WritePropagateListing(options, out), ElementSetResult::FileMissing);
  dir.Write("elements.dat", "NOAA 12\n" + kNoaa12Line1 + "\n" + kNoaa12Line2 + "\n");
  EXPECT_EQ(WritePropagateListing(options, out), ElementSetResult::SatelliteNotFound);
  std::string badLine2 = kNoaa15Line2;
  badLine2[68] = badLine2[68] == '0' ? '1' : '0';
  dir.Write("elements.dat", "NOAA 15\n" + kNoaa15Line1 + "\n" + badLine2 + "\n");
  EXPECT_EQ(WritePropagateListing(options, out), ElementSetResult::ChecksumError);
  EXPECT_EQ(out, "");
}

TEST(PropagateListing, OptionsOutsideTheirRangesAreRefused) {
  PropagateOptions options;
  options.minutes = {0.0, -1e6};
  EXPECT_EQ(PropagateOptionsProblem(options), "");
  options.minutes = {1e20};  // the propagator has no number for it
  EXPECT_NE(PropagateOptionsProblem(options), "");

  options.minutes.clear();
  options.fromSeconds = 1002801600.0;  // 2001-10-11T12:00:00Z
  options.count = 10;
  for (double step : {0.0, -1.0, std::nan("")}) {
    options.stepSeconds = step;
    EXPECT_EQ(PropagateOptionsProblem(options), "--step must be more than 0 seconds") << step;
  }
  options.stepSeconds = 60;
  EXPECT_EQ(PropagateOptionsProblem(options), "");
  options.stepSeconds = 1e300;  // past 2099 after the first line
  EXPECT_NE(PropagateOptionsProblem(options), "");
  options.stepSeconds = 60;

  for (const std::vector<std::string>& station : {std::vector<std::string>{"1000", "2000", "-5"},
                                                  {"45", "190", "0"},
                                                  {"45", "10", "-5"},
                                                  {"-91", "10", "0"},
                                                  {"45", "10", "30001"}}) {
    options.station = station;
    EXPECT_NE(PropagateOptionsProblem(options), "") << station[0] << "," << station[1];
  }
  options.station = std::vector<std::string>{"-90", "180", "30000"};
  EXPECT_EQ(PropagateOptionsProblem(options), "");
}

TEST(PropagateListing, IsoTimesAndNumbers) {
  // --- UTC texts.
  EXPECT_EQ(ParseIsoUtc("2001-10-11T12:00:00Z"), 1002801600.0);
  EXPECT_EQ(ParseIsoUtc("1970-01-01T00:00:00Z"), 0.0);
  EXPECT_EQ(ParseIsoUtc("1969-12-31T23:59:59Z"), -1.0);
  EXPECT_EQ(ParseIsoUtc("2000-02-29T00:00:00.25Z"), 951782400.25);
  EXPECT_FALSE(ParseIsoUtc("2001-02-29T00:00:00Z"));  // not a leap year
  EXPECT_FALSE(ParseIsoUtc("2001-10-11T12:00:00"));   // UTC must be said
  EXPECT_FALSE(ParseIsoUtc("2001-10-11 12:00:00Z"));
  EXPECT_FALSE(ParseIsoUtc("2001-10-11T24:00:00Z"));
  EXPECT_FALSE(ParseIsoUtc("2001-10-11T12:00:00.Z"));
  EXPECT_FALSE(ParseIsoUtc("2001-10-11T12:00:00Zjunk"));
  EXPECT_EQ(FormatIsoUtc(1002801600.0), "2001-10-11T12:00:00Z");
  EXPECT_EQ(FormatIsoUtc(-1.0), "1969-12-31T23:59:59Z");
  EXPECT_EQ(FormatIsoUtc(951782400.25), "2000-02-29T00:00:00.250Z");
  EXPECT_EQ(FormatIsoUtc(59.9999), "1970-01-01T00:01:00Z");

  // --- Numbers: whole texts only.
  EXPECT_EQ(ParseNumber("-12.5"), -12.5);
  EXPECT_EQ(ParseNumber("+3"), 3.0);
  EXPECT_FALSE(ParseNumber(""));
  EXPECT_FALSE(ParseNumber("1,5"));
  EXPECT_FALSE(ParseNumber("12abc"));
  EXPECT_FALSE(ParseNumber(" 1"));
  EXPECT_EQ(SplitCommas("0,360,,x"), (std::vector<std::string>{"0", "360", "", "x"}));
}

}  // namespace
}  // namespace halvik
