#include "imaging/PassMap.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "imaging/PngWriter.h"
#include "platform/Units.h"

namespace halvik {
namespace {

constexpr double kMeanEarthRadiusKm = 6371.0;
constexpr int kMaxMapSide = 1600;
constexpr double kFinestKmPerPixel = 1.0;
constexpr int kMarginPixels = 24;
constexpr int kTieStep = 8;  // lines and samples between computed ground points
constexpr double kGraticuleDegrees = 10;
constexpr double kGraticuleStepDegrees = 0.5;
constexpr std::array<std::uint8_t, 3> kBackground = {24, 28, 40};
constexpr std::array<std::uint8_t, 3> kGraticuleColour = {110, 150, 210};
constexpr std::array<std::uint8_t, 3> kCoastColour = {255, 214, 0};

// The view's plane, km: x east, y north at the centre.
struct PlanePoint {
  double x, y;
};

class Canvas {
 public:
  explicit Canvas(PassMap& map) : map_(map) {}
  void Plot(int x, int y, const std::array<std::uint8_t, 3>& colour) {
    if (x < 0 || y < 0 || x >= map_.width || y >= map_.height) return;
    std::uint8_t* at = map_.rgb.data() + (static_cast<std::size_t>(y) * map_.width + x) * 3;
    std::copy(colour.begin(), colour.end(), at);
  }
  // A polyline over the globe; a step that leaves the visible hemisphere or jumps across the map
  // (an antimeridian cut) is not drawn.
  void Path(const std::vector<GeoPoint>& points, const std::array<std::uint8_t, 3>& colour) {
    std::optional<std::array<double, 2>> last;
    for (const GeoPoint& point : points) {
      const std::optional<std::array<double, 2>> here = map_.view.Pixel(point);
      if (last && here) Line(*last, *here, colour);
      last = here;
    }
  }

 private:
  void Line(const std::array<double, 2>& a, const std::array<double, 2>& b,
            const std::array<std::uint8_t, 3>& colour) {
    const double dx = b[0] - a[0];
    const double dy = b[1] - a[1];
    const double steps = std::ceil(std::max(std::fabs(dx), std::fabs(dy)));
    if (steps > map_.width + map_.height) return;
    // Both ends off the same side of the map: nothing of it shows.
    if ((a[0] < 0 && b[0] < 0) || (a[1] < 0 && b[1] < 0) ||
        (a[0] >= map_.width && b[0] >= map_.width) || (a[1] >= map_.height && b[1] >= map_.height))
      return;
    for (double i = 0; i <= steps; ++i) {
      const double t = steps > 0 ? i / steps : 0;
      Plot(static_cast<int>(std::floor(a[0] + t * dx)), static_cast<int>(std::floor(a[1] + t * dy)),
           colour);
    }
  }

  PassMap& map_;
};

void DrawGraticule(Canvas& canvas) {
  for (double longitude = -180; longitude < 180; longitude += kGraticuleDegrees) {
    std::vector<GeoPoint> meridian;
    for (double latitude = -90; latitude <= 90; latitude += kGraticuleStepDegrees)
      meridian.push_back({longitude, latitude});
    canvas.Path(meridian, kGraticuleColour);
  }
  for (double latitude = -80; latitude <= 80; latitude += kGraticuleDegrees) {
    std::vector<GeoPoint> parallel;
    for (double longitude = -180; longitude <= 180; longitude += kGraticuleStepDegrees)
      parallel.push_back({longitude, latitude});
    canvas.Path(parallel, kGraticuleColour);
  }
}

}  // namespace

StereographicView::StereographicView(GeoPoint centre, double kmPerPixel, double westKm,
                                     double northKm)
    : centre_(centre),
      kmPerPixel_(kmPerPixel),
      westKm_(westKm),
      northKm_(northKm),
      sinCentre_(std::sin(centre.latitude * kTrueRadiansPerDegree)),
      cosCentre_(std::cos(centre.latitude * kTrueRadiansPerDegree)) {}

std::optional<std::array<double, 2>> StereographicView::Pixel(GeoPoint point) const {
  const double phi = point.latitude * kTrueRadiansPerDegree;
  const double dLambda = (point.longitude - centre_.longitude) * kTrueRadiansPerDegree;
  const double cosC = sinCentre_ * std::sin(phi) + cosCentre_ * std::cos(phi) * std::cos(dLambda);
  if (cosC <= 0) return std::nullopt;
  const double k = 2 * kMeanEarthRadiusKm / (1 + cosC);
  const double x = k * std::cos(phi) * std::sin(dLambda);
  const double y =
      k * (cosCentre_ * std::sin(phi) - sinCentre_ * std::cos(phi) * std::cos(dLambda));
  return std::array<double, 2>{(x - westKm_) / kmPerPixel_, (northKm_ - y) / kmPerPixel_};
}

GeoPoint StereographicView::Ground(double px, double py) const {
  const double x = westKm_ + px * kmPerPixel_;
  const double y = northKm_ - py * kmPerPixel_;
  const double rho = std::hypot(x, y);
  if (rho == 0) return centre_;
  const double c = 2 * std::atan(rho / (2 * kMeanEarthRadiusKm));
  const double phi = std::asin(std::cos(c) * sinCentre_ + y * std::sin(c) * cosCentre_ / rho);
  const double lambda =
      std::atan2(x * std::sin(c), rho * cosCentre_ * std::cos(c) - y * sinCentre_ * std::sin(c));
  return {std::remainder(centre_.longitude + lambda * kDisplayDegreesPerRadian, 360.0),
          phi * kDisplayDegreesPerRadian};
}

std::optional<PassMap> ProjectPass(const ChannelPictures& pictures, const HrptLayout& layout,
                                   bool turned, const SwathTiming& timing,
                                   const Coastlines& coastlines) {
  const int rows = pictures.rows();
  const int pixels = pictures.width();
  if (rows < 1 || pixels < 2) return std::nullopt;
  SwathGeometry swath(timing.elements, timing.imager);
  auto lineSeconds = [&](double line) {
    return (timing.firstLineMs + line * timing.lineMs) / 1000.0;
  };
  // The ground of every kTieStep-th line and sample, and of the last ones.
  std::vector<int> tieLines, tieSamples;
  for (int l = 0; l < rows; l += kTieStep) tieLines.push_back(l);
  if (tieLines.back() != rows - 1) tieLines.push_back(rows - 1);
  for (int s = 0; s < pixels; s += kTieStep) tieSamples.push_back(s);
  if (tieSamples.back() != pixels - 1) tieSamples.push_back(pixels - 1);
  swath.SetTime(lineSeconds((rows - 1) / 2.0));
  const std::optional<GeoPoint> centre = swath.Ground((pixels - 1) / 2.0);
  if (!centre) return std::nullopt;
  // The ties' places on the view's plane at 1 km a pixel (x km east, y km south), and its extent.
  const StereographicView plane(*centre, 1.0, 0.0, 0.0);
  std::vector<std::optional<std::array<double, 2>>> planeTies(tieLines.size() * tieSamples.size());
  constexpr double kFar = std::numeric_limits<double>::max();
  double west = kFar, east = -kFar, north = kFar, south = -kFar;
  for (std::size_t i = 0; i < tieLines.size(); ++i) {
    swath.SetTime(lineSeconds(tieLines[i]));
    for (std::size_t j = 0; j < tieSamples.size(); ++j) {
      const std::optional<GeoPoint> ground = swath.Ground(tieSamples[j]);
      if (!ground) continue;
      std::optional<std::array<double, 2>>& at = planeTies[i * tieSamples.size() + j];
      at = plane.Pixel(*ground);
      if (!at) continue;
      west = std::min(west, (*at)[0]);
      east = std::max(east, (*at)[0]);
      north = std::min(north, (*at)[1]);
      south = std::max(south, (*at)[1]);
    }
  }
  if (!(west <= east)) return std::nullopt;
  const double kmPerPixel =
      std::max(kFinestKmPerPixel, std::max(east - west, south - north) / kMaxMapSide);
  const double margin = kMarginPixels * kmPerPixel;
  PassMap map{StereographicView(*centre, kmPerPixel, west - margin, -(north - margin)),
              static_cast<int>(std::ceil((east - west + 2 * margin) / kmPerPixel)),
              static_cast<int>(std::ceil((south - north + 2 * margin) / kmPerPixel)),
              {}};
  map.rgb.resize(static_cast<std::size_t>(map.width) * map.height * 3);
  for (std::size_t k = 0; k < map.rgb.size(); k += 3)
    std::copy(kBackground.begin(), kBackground.end(), map.rgb.begin() + k);

  const std::array<const std::uint8_t*, 3> planes = {pictures.Plane(layout.composite[0]),
                                                     pictures.Plane(layout.composite[1]),
                                                     pictures.Plane(layout.composite[2])};
  auto toMap = [&](const std::array<double, 2>& p) {
    return std::array<double, 2>{p[0] / kmPerPixel + kMarginPixels - west / kmPerPixel,
                                 p[1] / kmPerPixel + kMarginPixels - north / kmPerPixel};
  };
  // Each map pixel whose centre lies in a triangle of ties takes the picture pixel nearest to the
  // linearly interpolated scan position.
  struct Vertex {
    std::array<double, 2> at;  // map pixel
    double line, sample;
  };
  auto fill = [&](const Vertex& a, const Vertex& b, const Vertex& c) {
    const double det =
        (b.at[0] - a.at[0]) * (c.at[1] - a.at[1]) - (c.at[0] - a.at[0]) * (b.at[1] - a.at[1]);
    if (std::fabs(det) < 1e-12) return;
    const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.at[0], b.at[0], c.at[0]}))));
    const int x1 =
        std::min(map.width - 1, static_cast<int>(std::ceil(std::max({a.at[0], b.at[0], c.at[0]}))));
    const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.at[1], b.at[1], c.at[1]}))));
    const int y1 = std::min(map.height - 1,
                            static_cast<int>(std::ceil(std::max({a.at[1], b.at[1], c.at[1]}))));
    constexpr double kEdge = -1e-9;
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        const double px = x + 0.5;
        const double py = y + 0.5;
        const double u =
            ((px - a.at[0]) * (c.at[1] - a.at[1]) - (c.at[0] - a.at[0]) * (py - a.at[1])) / det;
        const double v =
            ((b.at[0] - a.at[0]) * (py - a.at[1]) - (px - a.at[0]) * (b.at[1] - a.at[1])) / det;
        if (u < kEdge || v < kEdge || u + v > 1 - kEdge) continue;
        const double line = a.line + u * (b.line - a.line) + v * (c.line - a.line);
        const double sample = a.sample + u * (b.sample - a.sample) + v * (c.sample - a.sample);
        int l = std::clamp(static_cast<int>(std::lround(line)), 0, rows - 1);
        int s = std::clamp(static_cast<int>(std::lround(sample)), 0, pixels - 1);
        if (turned) {
          l = rows - 1 - l;
          s = pixels - 1 - s;
        }
        const std::size_t from = static_cast<std::size_t>(l) * pixels + s;
        std::uint8_t* to = map.rgb.data() + (static_cast<std::size_t>(y) * map.width + x) * 3;
        for (int k = 0; k < 3; ++k) to[k] = planes[k][from];
      }
    }
  };
  const std::size_t columns = tieSamples.size();
  for (std::size_t i = 0; i + 1 < tieLines.size(); ++i) {
    for (std::size_t j = 0; j + 1 < columns; ++j) {
      const std::size_t corners[4] = {i * columns + j, i * columns + j + 1, (i + 1) * columns + j,
                                      (i + 1) * columns + j + 1};
      if (!std::all_of(std::begin(corners), std::end(corners),
                       [&](std::size_t k) { return planeTies[k].has_value(); }))
        continue;
      Vertex v[4];
      for (int k = 0; k < 4; ++k) {
        v[k] = {toMap(*planeTies[corners[k]]), static_cast<double>(tieLines[i + k / 2]),
                static_cast<double>(tieSamples[j + k % 2])};
      }
      fill(v[0], v[1], v[2]);
      fill(v[3], v[2], v[1]);
    }
  }
  Canvas canvas(map);
  DrawGraticule(canvas);
  for (const std::vector<GeoPoint>& ring : coastlines.rings) canvas.Path(ring, kCoastColour);
  return map;
}

nlohmann::json AddPassMap(const ChannelPictures& pictures, const HrptLayout& layout,
                          SatelliteFamily family, bool turned,
                          const std::optional<ElementSet>& elements,
                          std::optional<double> firstLineMs, const std::filesystem::path& outDir,
                          const std::string& name, CaptureImagesResult& result) {
  const std::string fileName = name + ".map.png";
  auto skip = [&](const std::string& why) {
    result.notes.push_back("no " + fileName + ": " + why);
    return nlohmann::json(nullptr);
  };
  if (!elements) return skip("the capture carries no usable element set");
  if (!firstLineMs) return skip("the scan lines carry no usable times");
  const SwathTiming timing{*elements,
                           {layout.pixels, Radians(ScanHalfAngleDegrees(family))},
                           *firstLineMs,
                           1000.0 / layout.framesPerSecond};
  const std::optional<PassMap> map =
      ProjectPass(pictures, layout, turned, timing, BuiltInCoastlines());
  if (!map) return skip("the pass does not meet the Earth at its lines' times");
  const std::size_t rowBytes = static_cast<std::size_t>(map->width) * 3;
  if (!WritePng(outDir / fileName, map->width, map->height, 3, [&](int row, std::uint8_t*) {
        return map->rgb.data() + static_cast<std::size_t>(row) * rowBytes;
      }))
    return skip("cannot write it into " + outDir.string());
  result.written.push_back(fileName);
  const StereographicView& view = map->view;
  return nlohmann::json{{"projection", "stereographic"},
                        {"centre_latitude", view.centre().latitude},
                        {"centre_longitude", view.centre().longitude},
                        {"km_per_pixel", view.kmPerPixel()},
                        {"west_km", view.westKm()},
                        {"north_km", view.northKm()},
                        {"width", map->width},
                        {"height", map->height}};
}

}  // namespace halvik
