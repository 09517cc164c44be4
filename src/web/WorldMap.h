#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Station.h"
#include "orbit/Coastlines.h"
#include "web/SkyPlot.h"

namespace halvik::web {

// One listed satellite on the world map.
struct MapSatellite {
  std::string name;
  GeoPoint now;
  std::vector<GeoPoint> track;   // the next revolution from now
  std::vector<GeoPoint> circle;  // where it is seen at its minimum elevation from the station
  std::vector<GeoPoint> pass;    // the plotted pass from AOS to LOS; empty for the others
};

struct WorldMap {
  std::int64_t now = 0;
  GeoPoint station;
  std::vector<MapSatellite> satellites;
};

// Every active slot at `now`; the pass of `sky` (the one followed now or next) highlighted.
WorldMap MakeWorldMap(const Station& station, std::int64_t now, const SkyPlot& sky);

// The land of `coastlines` as SVG path data on the map's plane (720 x 360, two units a degree,
// longitude -180 at the left, latitude 90 at the top): made once, drawn on every map.
std::string CoastlinePath(const Coastlines& coastlines);

// An equirectangular map: land, a 30-degree graticule, the station, and per satellite its
// visibility circle, its ground track for one revolution cut at the antimeridian, and where it
// is now; the plotted pass drawn thick.
std::string WorldMapSvg(const WorldMap& map, const std::string& coastlinePath);

}  // namespace halvik::web
