#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace halvik {

// A point on the globe in degrees: east and north positive.
struct GeoPoint {
  double longitude = 0;  // degrees, -180..180
  double latitude = 0;   // degrees, -90..90
};

// Land polygons as closed rings (last point equal to the first). Lakes are rings too: a point is
// on land when an odd number of rings encloses it. Rings reaching the antimeridian are cut at
// +/-180 degrees, so each one draws on an equirectangular map without wrapping.
struct Coastlines {
  std::vector<std::vector<GeoPoint>> rings;
  std::size_t PointCount() const;
};

// Reads the text form of share/coastlines (`#` comments, then rings: "ring N" and N lines
// "LONGITUDE LATITUDE"). Returns false with `error` naming the line for anything else: a
// number off the globe, a ring cut short or not closed, a stray line.
bool ParseCoastlines(std::string_view text, Coastlines& out, std::string& error);

// The text of share/coastlines/land-110m.txt (Natural Earth 1:110m land, public domain), as it
// was when the program was built.
std::string BuiltInCoastlineText();

// The built-in coastlines, parsed (about 5100 points in 132 rings); a few milliseconds of work,
// so a user keeps the result.
Coastlines BuiltInCoastlines();

// Whether `point` lies on land by the even-odd rule over the rings, on the equirectangular plane
// (exact for rings that do not enclose a pole, which the cut at the antimeridian ensures).
bool OnLand(const Coastlines& coastlines, GeoPoint point);

// OnLand's answers, quick enough to ask for every pixel of a picture: each query counts only the
// edges of its half-degree band of latitude, and a degree square that no edge comes near is
// answered from a table without counting at all.
class LandIndex {
 public:
  explicit LandIndex(const Coastlines& coastlines);
  bool OnLand(GeoPoint point) const;

 private:
  struct Edge {
    GeoPoint a, b;
  };
  bool Count(GeoPoint point) const;

  std::vector<std::vector<Edge>> bands_;
  std::vector<std::int8_t> squares_;  // per degree square: 0 sea, 1 land, -1 an edge comes near
};

}  // namespace halvik
