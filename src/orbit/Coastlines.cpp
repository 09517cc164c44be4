#include "orbit/Coastlines.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "orbit/PropagateListing.h"
#include "platform/Text.h"

namespace halvik {
namespace {

constexpr double kBandDegrees = 0.5;
constexpr int kBands = static_cast<int>(180 / kBandDegrees);
constexpr int kSquareColumns = 360;
constexpr int kSquareRows = 180;

int BandOf(double latitude) {
  return std::clamp(static_cast<int>(std::floor((latitude + 90.0) / kBandDegrees)), 0, kBands - 1);
}

// Whether the eastward ray from `point` crosses the edge a-b: an edge that straddles the point's
// latitude and meets the ray east of the point.
bool Crosses(const GeoPoint& a, const GeoPoint& b, const GeoPoint& point) {
  if ((a.latitude > point.latitude) == (b.latitude > point.latitude)) return false;
  const double t = (point.latitude - a.latitude) / (b.latitude - a.latitude);
  return point.longitude < a.longitude + t * (b.longitude - a.longitude);
}

// A ring of more points than this is not from a world map at any usual scale.
constexpr long kMaxRingPoints = 1000000;

// The next line of `text` from `at`, without its line end (LF or CRLF).
std::string_view NextLine(std::string_view text, std::size_t& at) {
  const std::size_t end = std::min(text.find('\n', at), text.size());
  std::string_view line = text.substr(at, end - at);
  at = end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool ParsePoint(std::string_view line, GeoPoint& point) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return false;
  const std::optional<double> longitude = ParseNumber(line.substr(0, blank));
  const std::optional<double> latitude = ParseNumber(line.substr(blank + 1));
  if (!longitude || !latitude || !(std::fabs(*longitude) <= 180.0) ||
      !(std::fabs(*latitude) <= 90.0))
    return false;
  point = {*longitude, *latitude};
  return true;
}

}  // namespace

std::size_t Coastlines::PointCount() const {
  std::size_t count = 0;
  for (const std::vector<GeoPoint>& ring : rings) count += ring.size();
  return count;
}

bool ParseCoastlines(std::string_view text, Coastlines& out, std::string& error) {
  out.rings.clear();
  std::size_t at = 0;
  int lineNumber = 0;
  while (at < text.size()) {
    const std::string_view line = NextLine(text, at);
    ++lineNumber;
    if (line.empty() || line.front() == '#') continue;
    const std::optional<double> count =
        line.starts_with("ring ") ? ParseNumber(line.substr(5)) : std::nullopt;
    if (!count || *count < 4 || *count > kMaxRingPoints || *count != std::floor(*count)) {
      error = Format("line %d: expected \"ring N\" with N from 4", lineNumber);
      return false;
    }
    std::vector<GeoPoint>& ring = out.rings.emplace_back();
    ring.reserve(static_cast<std::size_t>(*count));
    for (long i = 0; i < static_cast<long>(*count); ++i) {
      if (at >= text.size()) {
        error = Format("line %d: the ring ends after %ld of its %ld points", lineNumber, i,
                       static_cast<long>(*count));
        return false;
      }
      ++lineNumber;
      GeoPoint point;
      if (!ParsePoint(NextLine(text, at), point)) {
        error = Format("line %d: expected \"LONGITUDE LATITUDE\" in degrees", lineNumber);
        return false;
      }
      ring.push_back(point);
    }
    if (ring.front().longitude != ring.back().longitude ||
        ring.front().latitude != ring.back().latitude) {
      error = Format("line %d: the ring does not end where it began", lineNumber);
      return false;
    }
  }
  return true;
}

Coastlines BuiltInCoastlines() {
  Coastlines coastlines;
  std::string error;
  // The text is checked by the tests; a broken build gives an empty map rather than none.
  if (!ParseCoastlines(BuiltInCoastlineText(), coastlines, error)) coastlines.rings.clear();
  return coastlines;
}

bool OnLand(const Coastlines& coastlines, GeoPoint point) {
  bool inside = false;
  for (const std::vector<GeoPoint>& ring : coastlines.rings) {
    // Crossings of a ray toward east: each edge that straddles the point's latitude and meets
    // the ray east of the point flips the answer.
    for (std::size_t i = 1; i < ring.size(); ++i) {
      if (Crosses(ring[i - 1], ring[i], point)) inside = !inside;
    }
  }
  return inside;
}

LandIndex::LandIndex(const Coastlines& coastlines)
    : bands_(kBands), squares_(static_cast<std::size_t>(kSquareColumns) * kSquareRows, 0) {
  for (const std::vector<GeoPoint>& ring : coastlines.rings) {
    for (std::size_t i = 1; i < ring.size(); ++i) {
      const Edge edge{ring[i - 1], ring[i]};
      const double south = std::min(edge.a.latitude, edge.b.latitude);
      const double north = std::max(edge.a.latitude, edge.b.latitude);
      for (int band = BandOf(south); band <= BandOf(north); ++band)
        bands_[static_cast<std::size_t>(band)].push_back(edge);
      // Every square the edge's box touches, and their neighbours, must count.
      const double west = std::min(edge.a.longitude, edge.b.longitude);
      const double east = std::max(edge.a.longitude, edge.b.longitude);
      for (int row = static_cast<int>(std::floor(south + 90)) - 1;
           row <= static_cast<int>(std::floor(north + 90)) + 1; ++row) {
        for (int column = static_cast<int>(std::floor(west + 180)) - 1;
             column <= static_cast<int>(std::floor(east + 180)) + 1; ++column) {
          if (row < 0 || row >= kSquareRows) continue;
          const int wrapped = (column + kSquareColumns) % kSquareColumns;
          squares_[static_cast<std::size_t>(row) * kSquareColumns + wrapped] = -1;
        }
      }
    }
  }
  for (int row = 0; row < kSquareRows; ++row) {
    for (int column = 0; column < kSquareColumns; ++column) {
      std::int8_t& square = squares_[static_cast<std::size_t>(row) * kSquareColumns + column];
      if (square == 0) square = Count({column - 179.5, row - 89.5}) ? 1 : 0;
    }
  }
}

bool LandIndex::Count(GeoPoint point) const {
  bool inside = false;
  for (const Edge& edge : bands_[static_cast<std::size_t>(BandOf(point.latitude))]) {
    if (Crosses(edge.a, edge.b, point)) inside = !inside;
  }
  return inside;
}

bool LandIndex::OnLand(GeoPoint point) const {
  const int row = std::clamp(static_cast<int>(std::floor(point.latitude + 90)), 0, kSquareRows - 1);
  const int column =
      std::clamp(static_cast<int>(std::floor(point.longitude + 180)), 0, kSquareColumns - 1);
  const std::int8_t square = squares_[static_cast<std::size_t>(row) * kSquareColumns + column];
  return square < 0 ? Count(point) : square == 1;
}

}  // namespace halvik
