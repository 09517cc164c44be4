#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "devices/Downlink.h"
#include "imaging/CaptureImages.h"
#include "imaging/Pictures.h"
#include "orbit/Coastlines.h"
#include "orbit/SatelliteTable.h"
#include "orbit/ScanGeometry.h"

namespace halvik {

// A stereographic view of the globe (a sphere of the Earth's mean radius) touching it at
// `centre`: conformal, so a pass keeps its shape at any latitude, polar passes included, where an
// equirectangular map would stretch it east-west. Pixel (0, 0) is the north-west corner; the
// view's north is up at its centre.
class StereographicView {
 public:
  StereographicView(GeoPoint centre, double kmPerPixel, double westKm, double northKm);
  // The pixel (x right, y down; fractional) of `point`, or nothing on the far hemisphere.
  std::optional<std::array<double, 2>> Pixel(GeoPoint point) const;
  GeoPoint Ground(double x, double y) const;

  GeoPoint centre() const { return centre_; }
  double kmPerPixel() const { return kmPerPixel_; }
  double westKm() const { return westKm_; }
  double northKm() const { return northKm_; }

 private:
  GeoPoint centre_;
  double kmPerPixel_;
  double westKm_;  // plane coordinates of pixel (0, 0)'s corner
  double northKm_;
  double sinCentre_, cosCentre_;
};

// A pass's composite placed on the Earth.
struct PassMap {
  StereographicView view;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width x height x 3
};

// What places a picture's scan lines on the Earth.
struct SwathTiming {
  ElementSet elements;
  ScanImager imager;
  double firstLineMs = 0;  // UTC of scan line 0, ms since 1970
  double lineMs = 0;       // from one scan line to the next
};

// The composite of `pictures` (layout.composite's channels; `turned` as ChannelPictures turned
// them) on a stereographic view centred under the middle of the pass, at most about 1600 pixels
// on a side and no finer than 1 km a pixel, with a 10-degree graticule and the coastlines drawn
// over it. Each map pixel takes the nearest picture pixel: the scan lines' ground is computed on
// a grid of every 8th line and sample, and the picture position of a map pixel inside a cell of
// that grid is interpolated linearly. Nothing when no part of the pass meets the Earth.
std::optional<PassMap> ProjectPass(const ChannelPictures& pictures, const HrptLayout& layout,
                                   bool turned, const SwathTiming& timing,
                                   const Coastlines& coastlines);

// NAME.map.png in `outDir` from ProjectPass, named in `result.written`, when there are an element
// set and line times; otherwise (or when it cannot be written) a note says why and the other
// products stand. Returns the quality record's "map" entry: the view (projection, centre,
// km_per_pixel, west_km, north_km, width, height), or null.
nlohmann::json AddPassMap(const ChannelPictures& pictures, const HrptLayout& layout,
                          SatelliteFamily family, bool turned,
                          const std::optional<ElementSet>& elements,
                          std::optional<double> firstLineMs, const std::filesystem::path& outDir,
                          const std::string& name, CaptureImagesResult& result);

}  // namespace halvik
