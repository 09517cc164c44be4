// The built-in coastlines and the map geometry: the land where an atlas has it, the reader's
// refusals, the antimeridian cut and the visibility circle against spherical geometry.
#include <gtest/gtest.h>

#include <cmath>

#include "orbit/Coastlines.h"
#include "orbit/Tracks.h"
#include "platform/Units.h"

namespace halvik {
namespace {

// Great-circle angle between two points, degrees.
double AngleDeg(GeoPoint a, GeoPoint b) {
  const double d = kTrueRadiansPerDegree;
  const double c = std::sin(a.latitude * d) * std::sin(b.latitude * d) +
                   std::cos(a.latitude * d) * std::cos(b.latitude * d) *
                       std::cos((a.longitude - b.longitude) * d);
  return std::acos(std::clamp(c, -1.0, 1.0)) / d;
}

TEST(Coastlines, BuiltInLandLiesWhereTheAtlasHasIt) {
  const Coastlines land = BuiltInCoastlines();
  // Natural Earth 1:110m land: 127 rings of 5129 points, cut at the antimeridian into 132
  // (scripts/coastlines).
  EXPECT_EQ(land.rings.size(), 132u);
  EXPECT_EQ(land.PointCount(), 5160u);
  struct Place {
    const char* name;
    GeoPoint point;
    bool land;
  };
  for (const Place& p : {Place{"Sahara", {10, 25}, true}, Place{"Siberia", {100, 60}, true},
                         Place{"Brazil", {-50, -10}, true}, Place{"Antarctica", {0, -80}, true},
                         Place{"Jutland", {9.3, 56.2}, true}, Place{"Pacific", {-150, 0}, false},
                         Place{"North Sea", {3, 56}, false}, Place{"Caspian Sea", {51, 42}, false},
                         Place{"Indian Ocean", {80, -20}, false}}) {
    EXPECT_EQ(OnLand(land, p.point), p.land) << p.name;
  }
  // Cut at the antimeridian: no ring steps more than half the map, but along a pole's edge
  // (Antarctica closes along the bottom of the map).
  for (const auto& ring : land.rings)
    for (std::size_t i = 1; i < ring.size(); ++i)
      if (std::fabs(ring[i].latitude) != 90.0 || ring[i].latitude != ring[i - 1].latitude) {
        ASSERT_LE(std::fabs(ring[i].longitude - ring[i - 1].longitude), 180.0);
      }
}

TEST(Coastlines, ReaderRefusesBrokenText) {
  Coastlines out;
  std::string error;
  ASSERT_TRUE(ParseCoastlines("# c\nring 4\n0 0\n1 0\n1 1\n0 0\n", out, error)) << error;
  EXPECT_EQ(out.PointCount(), 4u);
  struct Bad {
    const char* text;
    const char* line;
  };
  for (const Bad& bad : {Bad{"ring 4\n0 0\n1 0\n", "line 3"},             // cut short
                         Bad{"ring 4\n0 0\n1 0\n1 1\n2 2\n", "line 5"},   // not closed
                         Bad{"ring 4\n0 0\n1 0\n1 x\n0 0\n", "line 4"},   // not a number
                         Bad{"ring 4\n0 0\n1 0\n1 95\n0 0\n", "line 4"},  // off the globe
                         Bad{"0 0\n", "line 1"},                          // stray line
                         Bad{"ring 2.5\n0 0\n", "line 1"}}) {
    EXPECT_FALSE(ParseCoastlines(bad.text, out, error)) << bad.text;
    EXPECT_NE(error.find(bad.line), std::string::npos) << error;
  }
}

TEST(Tracks, AntimeridianCutAndVisibilityCircle) {
  // East over the edge at the equator, then back west further north.
  const std::vector<std::vector<GeoPoint>> pieces =
      SplitAtAntimeridian({{170, 0}, {-170, 10}, {-175, 20}, {175, 30}});
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_DOUBLE_EQ(pieces[0].back().longitude, 180.0);
  EXPECT_DOUBLE_EQ(pieces[0].back().latitude, 5.0);  // half-way in longitude
  EXPECT_DOUBLE_EQ(pieces[1].front().longitude, -180.0);
  EXPECT_DOUBLE_EQ(pieces[1].back().longitude, -180.0);
  EXPECT_DOUBLE_EQ(pieces[1].back().latitude, 25.0);
  EXPECT_DOUBLE_EQ(pieces[2].front().longitude, 180.0);
  for (const auto& piece : pieces)
    for (std::size_t i = 1; i < piece.size(); ++i)
      EXPECT_LE(std::fabs(piece[i].longitude - piece[i - 1].longitude), 180.0);

  // 850 km up, seen at 5 degrees: central angle acos(cos 5 / r) - 5 = 23.47 degrees.
  const double r = 1.0 + 850.0 / kEarthRadiusKm;
  const double expected =
      std::acos(std::cos(5 * kTrueRadiansPerDegree) / r) / kTrueRadiansPerDegree - 5.0;
  EXPECT_NEAR(expected, 23.47, 0.01);
  for (const GeoPoint centre : {GeoPoint{10, 56}, GeoPoint{179, 0}, GeoPoint{-30, 80}}) {
    const std::vector<GeoPoint> circle = VisibilityCircle(centre, r, 5 * kTrueRadiansPerDegree, 72);
    ASSERT_EQ(circle.size(), 73u);
    for (const GeoPoint& p : circle) EXPECT_NEAR(AngleDeg(centre, p), expected, 1e-9);
  }
  EXPECT_TRUE(VisibilityCircle({0, 0}, 0.99, 0, 10).empty());
}

}  // namespace
}  // namespace halvik
