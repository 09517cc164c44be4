#include "config/PassListing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/StationFixture.h"
#include "orbit/ElementSet.h"
#include "orbit/PropagateListing.h"
#include "orbit/Sgp4.h"
#include "orbit/StationGeometry.h"

namespace halvik {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;
using testing::StationUnderTest;

constexpr double kMinimumElevationDeg = 5.0;
// The station's searches store whole seconds; a reference scan on whole seconds may land one
// second either side of them.
constexpr std::int64_t kOneSecond = 1;
// A maximum found by one-second sampling, printed with one decimal.
constexpr double kMaxElevationToleranceDeg = 0.1;

std::int64_t Utc(const char* iso) {
  return static_cast<std::int64_t>(*ParseIsoUtc(iso));
}

struct PassLine {
  int slot = -1;
  std::string name, aos, los, maxElevation, direction, flip;
};

PassLine Split(const std::string& line) {
  std::istringstream in(line);
  PassLine p;
  in >> p.slot >> p.name >> p.aos >> p.los >> p.maxElevation >> p.direction >> p.flip;
  std::string extra;
  EXPECT_FALSE(in >> extra) << "more than seven fields: " << line;
  EXPECT_EQ(line.find("  "), std::string::npos) << "fields separated by single blanks: " << line;
  return p;
}

// A reference pass found by sampling the elevation every second (coarsely every 10 s, then
// second by second around each crossing) with the orbit model's own propagator and geometry.
struct ReferencePass {
  std::int64_t aos = 0;  // first whole second above the minimum elevation
  std::int64_t los = 0;  // first whole second below it again
  double maxElevationDeg = -90;
  double latitudeAtAos = 0, latitudeAtLos = 0;  // rad
};

class ReferenceScan {
 public:
  ReferenceScan(const ElementSet& elements, const StationConfig& station)
      : elements_(elements), station_(station) {}

  double ElevationAt(std::int64_t utc) {
    Propagate(Tsince(utc), elements_, state_);
    return ComputeLookAngles(Tsince(utc), elements_.epoch1950Minutes, state_.position, station_)
        .elevation;
  }
  double LatitudeAt(std::int64_t utc) {
    Propagate(Tsince(utc), elements_, state_);
    return ComputeSubSatellitePoint(Tsince(utc), elements_.epoch1950Minutes, state_.position)
        .latitude;
  }

  // Passes whose first second above the minimum lies in [from, end).
  std::vector<ReferencePass> Passes(std::int64_t from, std::int64_t end) {
    const double minimum = station_.minimumElevation;
    std::vector<ReferencePass> passes;
    bool up = ElevationAt(from) > minimum;
    std::optional<ReferencePass> current;
    for (std::int64_t t = from; t < end + 3600; t += 10) {
      const bool upNow = ElevationAt(t + 10) > minimum;
      if (upNow == up) continue;
      std::int64_t s = t + 1;
      while ((ElevationAt(s) > minimum) != upNow) ++s;
      if (upNow && s < end) {
        current = ReferencePass{};
        current->aos = s;
      } else if (!upNow && current) {
        current->los = s;
        for (std::int64_t u = current->aos; u < s; ++u) {
          current->maxElevationDeg =
              std::max(current->maxElevationDeg, ElevationAt(u) / kRadiansPerDegree);
        }
        current->latitudeAtAos = LatitudeAt(current->aos);
        current->latitudeAtLos = LatitudeAt(current->los);
        passes.push_back(*current);
        current.reset();
      }
      up = upNow;
    }
    return passes;
  }

 private:
  double Tsince(std::int64_t utc) const {
    return static_cast<double>(utc) / 60.0 - elements_.epochMinutes;
  }
  ElementSet elements_;
  StationConfig station_;
  StateVector state_;
};

// A station at 45.5 N, 10 E, 600 ft, minimum elevation 5 degrees, following NOAA 14 in slot 0,
// GOES 12 in slot 1, nothing in slot 2, NOAA 15 in slot 3 and NOAA 16 in slot 4.
struct ListedStation : StationUnderTest {
  ListedStation() {
    dir.Write("location.dat", "45.500000\n10.000000\n600.000000\n-1\n");
    dir.Write("minel.dat", "5.000000\n");
    dir.Write("sats.dat", "NOAA 14\nGOES 12\n \nnoaa 15\nNOAA 16\n \n");
  }

  // The element set and station as the station itself loads them.
  ElementSet Elements(const std::string& name) {
    SatelliteRecord slot;
    EXPECT_EQ(FindElementSet(dir.path() / "elements.dat", name, slot), ElementSetResult::Ok);
    return slot.Elements();
  }
  StationConfig Station() {
    StationConfig config;
    SetStation(config, "45.5", "10", "600");
    config.minimumElevation = kMinimumElevationDeg * kRadiansPerDegree;
    return config;
  }
};

TEST(PassListing, MatchesAReferenceScanOfTheElevation) {
  ListedStation s;
  const std::int64_t from = Utc("2000-11-17T00:00:00Z");
  const std::int64_t end = from + 24 * 3600;
  PassListing listing = ListPasses(s.dir.path(), from, 24, s.messages);
  EXPECT_TRUE(s.messages.Shown().empty());
  EXPECT_EQ(listing.satellitesLoaded, 4);
  ASSERT_GE(listing.lines.size(), 2u);

  // --- the header ---
  EXPECT_THAT(listing.lines[0], StartsWith("#"));
  EXPECT_NE(listing.lines[0].find("2000-11-17T00:00:00Z"), std::string::npos);

  // --- the geosynchronous slot: one line, first ---
  EXPECT_EQ(listing.lines[1], "1 GOES_12 geo geo - - -");

  // --- every other line a pass in the window, ordered by AOS ---
  std::vector<PassLine> lines;
  for (std::size_t i = 2; i < listing.lines.size(); ++i) lines.push_back(Split(listing.lines[i]));
  std::int64_t previousAos = from;
  for (const PassLine& p : lines) {
    std::int64_t aos = static_cast<std::int64_t>(*ParseIsoUtc(p.aos));
    EXPECT_GE(aos, previousAos) << p.aos;
    EXPECT_LT(aos, end) << p.aos;
    previousAos = aos;
    EXPECT_THAT(p.direction, ::testing::AnyOf("north", "south"));
    EXPECT_THAT(p.flip, ::testing::AnyOf("flip", "-"));
  }

  // --- per satellite, the same passes a second-by-second scan finds ---
  struct Satellite {
    int slot;
    const char* name;
    const char* field;
  };
  for (const Satellite& sat :
       {Satellite{0, "NOAA 14", "NOAA_14"}, Satellite{3, "NOAA 15", "NOAA_15"},
        Satellite{4, "NOAA 16", "NOAA_16"}}) {
    SCOPED_TRACE(sat.name);
    std::vector<ReferencePass> reference =
        ReferenceScan(s.Elements(sat.name), s.Station()).Passes(from, end);
    std::vector<PassLine> listed;
    for (const PassLine& p : lines) {
      if (p.slot == sat.slot) {
        EXPECT_EQ(p.name, sat.field);
        listed.push_back(p);
      }
    }
    // Three to seven passes a day at mid-latitudes for these orbits.
    EXPECT_GE(reference.size(), 3u);
    ASSERT_EQ(listed.size(), reference.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
      const ReferencePass& r = reference[i];
      const std::int64_t aos = static_cast<std::int64_t>(*ParseIsoUtc(listed[i].aos));
      const std::int64_t los = static_cast<std::int64_t>(*ParseIsoUtc(listed[i].los));
      EXPECT_NEAR(aos, r.aos, kOneSecond) << listed[i].aos;
      EXPECT_NEAR(los, r.los, kOneSecond) << listed[i].los;
      EXPECT_NEAR(std::stod(listed[i].maxElevation), r.maxElevationDeg, kMaxElevationToleranceDeg);
      EXPECT_EQ(listed[i].direction, r.latitudeAtLos > r.latitudeAtAos ? "north" : "south");
    }
  }
}

TEST(PassListing, Window) {
  ListedStation s;
  s.dir.Write("sats.dat", "NOAA 15\n");
  const std::int64_t from = Utc("2000-11-17T00:00:00Z");
  std::vector<ReferencePass> reference =
      ReferenceScan(s.Elements("NOAA 15"), s.Station()).Passes(from, from + 24 * 3600);
  ASSERT_GE(reference.size(), 2u);

  // --- a pass under way at the start began before the window: not listed ---
  {
    PassListing listing = ListPasses(s.dir.path(), reference[0].aos + 60, 24, s.messages);
    ASSERT_GE(listing.lines.size(), 2u);
    PassLine first = Split(listing.lines[1]);
    EXPECT_NEAR(*ParseIsoUtc(first.aos), reference[1].aos, kOneSecond);
  }
  // --- the window ends before the next AOS: nothing listed, yet the satellite loaded ---
  {
    const std::int64_t start = reference[0].los + 10;
    const double hours = static_cast<double>(reference[1].aos - 60 - start) / 3600.0;
    PassListing listing = ListPasses(s.dir.path(), start, hours, s.messages);
    EXPECT_EQ(listing.satellitesLoaded, 1);
    EXPECT_EQ(listing.lines.size(), 1u);
  }
  // --- a window of several days keeps finding passes day after day ---
  {
    PassListing listing = ListPasses(s.dir.path(), from, 72, s.messages);
    ASSERT_GE(listing.lines.size(), 2u);
    const double last = *ParseIsoUtc(Split(listing.lines.back()).aos);
    EXPECT_GT(last, static_cast<double>(from + 48 * 3600));
  }
  EXPECT_TRUE(s.messages.Shown().empty());
}

TEST(PassListing, BadOrMissingFiles) {
  const std::int64_t from = Utc("2000-11-17T00:00:00Z");
  // --- no sats.dat: its message, nothing loaded, only the header ---
  {
    ListedStation s;
    std::filesystem::remove(s.dir.path() / "sats.dat");
    PassListing listing = ListPasses(s.dir.path(), from, 24, s.messages);
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't find file sats.dat"));
    EXPECT_EQ(listing.satellitesLoaded, 0);
    EXPECT_EQ(listing.lines.size(), 1u);
  }
  // --- no elements.dat ---
  {
    ListedStation s;
    std::filesystem::remove(s.dir.path() / "elements.dat");
    PassListing listing = ListPasses(s.dir.path(), from, 24, s.messages);
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't find file elements.dat"));
    EXPECT_EQ(listing.satellitesLoaded, 0);
  }
  // --- missing minel.dat and location.dat: their messages, then the fallbacks are used ---
  {
    ListedStation s;
    std::filesystem::remove(s.dir.path() / "minel.dat");
    std::filesystem::remove(s.dir.path() / "location.dat");
    s.dir.Write("sats.dat", "NOAA 99\nNOAA 16\n");
    PassListing listing = ListPasses(s.dir.path(), from, 24, s.messages);
    EXPECT_THAT(s.messages.Shown(),
                ElementsAre("Can't find file minel.dat", "Can't find file location.dat",
                            "Satellite not found in Ephemeris file"));
    EXPECT_EQ(listing.satellitesLoaded, 1);
    EXPECT_NE(listing.lines[0].find("minimum elevation 5.0 deg"), std::string::npos);
    ASSERT_GE(listing.lines.size(), 2u);
    EXPECT_EQ(Split(listing.lines[1]).slot, 0);  // NOAA 16 moved up into slot 0
  }
}

}  // namespace
}  // namespace halvik
