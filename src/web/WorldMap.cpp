#include "web/WorldMap.h"

#include "orbit/PropagateListing.h"
#include "orbit/Tracks.h"
#include "platform/Text.h"
#include "platform/Units.h"
#include "web/Svg.h"

namespace halvik::web {
namespace {

constexpr int kTrackStepSeconds = 30;
constexpr int kCirclePoints = 90;
constexpr const char* kColours[kSlotCount] = {"#2563eb", "#db2777", "#059669",
                                              "#d97706", "#7c3aed", "#0891b2"};

double X(double longitude) {
  return (longitude + 180.0) * 2.0;
}
double Y(double latitude) {
  return (90.0 - latitude) * 2.0;
}

// Path data of a line, cut where it crosses the antimeridian.
std::string LinePath(const std::vector<GeoPoint>& path) {
  std::string d;
  for (const std::vector<GeoPoint>& piece : SplitAtAntimeridian(path)) {
    char command = 'M';
    for (const GeoPoint& p : piece) {
      d += command + Coord(X(p.longitude)) + " " + Coord(Y(p.latitude));
      command = 'L';
    }
  }
  return d;
}

}  // namespace

WorldMap MakeWorldMap(const Station& station, std::int64_t now, const SkyPlot& sky) {
  WorldMap map;
  map.now = now;
  const StationConfig& config = station.station;
  map.station = {config.longitude * kDisplayDegreesPerRadian,
                 config.latitude * kDisplayDegreesPerRadian};
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const SatelliteRecord& record = station.table[static_cast<std::size_t>(slot)];
    if (!record.IsActive()) continue;
    const ElementSet elements = record.Elements();
    MapSatellite satellite;
    satellite.name = record.name.Get();
    // A geosynchronous satellite's revolution is a day; a listed orbit's is about 100 minutes.
    const double revolution = std::min(OrbitSeconds(elements), kSecondsPerDay);
    satellite.track = GroundTrack(elements, now, revolution, kTrackStepSeconds);
    if (satellite.track.empty()) continue;
    satellite.now = satellite.track.front();
    // The distance of the latest prediction step; before the first, the orbit's mean radius.
    double distance = record.subSatellite[2];
    if (!(distance > 1.0)) distance = MeanOrbitRadius(elements);
    satellite.circle =
        VisibilityCircle(map.station, distance, config.minimumElevation, kCirclePoints);
    if (sky.havePass && sky.pass.slot == slot) {
      satellite.pass =
          GroundTrack(elements, sky.pass.aos, static_cast<double>(sky.pass.los - sky.pass.aos), 10);
    }
    map.satellites.push_back(std::move(satellite));
  }
  return map;
}

std::string CoastlinePath(const Coastlines& coastlines) {
  std::string d;
  for (const std::vector<GeoPoint>& ring : coastlines.rings) {
    char command = 'M';
    for (const GeoPoint& p : ring) {
      d += command + Coord(X(p.longitude)) + " " + Coord(Y(p.latitude));
      command = 'L';
    }
    d += 'Z';
  }
  return d;
}

std::string WorldMapSvg(const WorldMap& map, const std::string& coastlinePath) {
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 720 380\" "
      "font-family=\"sans-serif\" "
      "font-size=\"10\">\n"
      "<rect width=\"720\" height=\"360\" fill=\"#dbeafe\"/>\n"
      "<path id=\"land\" fill=\"#e7e5d8\" stroke=\"#8b8b7a\" stroke-width=\"0.5\" "
      "fill-rule=\"evenodd\" d=\"" +
      coastlinePath + "\"/>\n<path stroke=\"#94a3b8\" stroke-width=\"0.4\" d=\"";
  for (int longitude = -150; longitude < 180; longitude += 30)
    svg += "M" + Coord(X(longitude)) + " 0V360";
  for (int latitude = -60; latitude <= 60; latitude += 30)
    svg += "M0 " + Coord(Y(latitude)) + "H720";
  svg += "\"/>\n";
  for (std::size_t i = 0; i < map.satellites.size(); ++i) {
    const MapSatellite& s = map.satellites[i];
    const char* colour = kColours[i % kSlotCount];
    const std::string name = XmlEscape(s.name);
    svg += Format("<g class=\"satellite\" data-name=\"%s\">", name.c_str());
    if (!s.circle.empty())
      svg += Format(
          "<path class=\"circle\" fill=\"none\" stroke=\"%s\" stroke-width=\"0.8\" "
          "stroke-dasharray=\"3 2\" d=\"%s\"/>",
          colour, LinePath(s.circle).c_str());
    svg += Format("<path class=\"track\" fill=\"none\" stroke=\"%s\" stroke-width=\"1\" d=\"%s\"/>",
                  colour, LinePath(s.track).c_str());
    if (!s.pass.empty())
      svg += Format(
          "<path id=\"pass\" fill=\"none\" stroke=\"%s\" stroke-width=\"4\" "
          "stroke-linecap=\"round\" opacity=\"0.8\" d=\"%s\"/>",
          colour, LinePath(s.pass).c_str());
    const double x = X(s.now.longitude);
    const double y = Y(s.now.latitude);
    svg += Format(
        "<circle cx=\"%s\" cy=\"%s\" r=\"4\" fill=\"%s\" stroke=\"#000\"/><text x=\"%s\" y=\"%s\" "
        "%s>%s</text></g>\n",
        Coord(x).c_str(), Coord(y).c_str(), colour, Coord(x + (x > 660 ? -6 : 6)).c_str(),
        Coord(y - 5).c_str(), x > 660 ? "text-anchor=\"end\"" : "", name.c_str());
  }
  svg +=
      Format("<path id=\"station\" d=\"M%s %sl5 9h-10z\" fill=\"#dc2626\" stroke=\"#000\"/>\n",
             Coord(X(map.station.longitude)).c_str(), Coord(Y(map.station.latitude) - 6).c_str());
  svg += Format(
      "<text x=\"4\" y=\"374\" fill=\"#374151\">%s UTC: satellites now, their next revolution "
      "and visibility circle (dashed); thick: the pass followed now or next</text>\n",
      FormatIsoUtc(static_cast<double>(map.now)).c_str());
  return svg + "</svg>\n";
}

}  // namespace halvik::web
