#include "devices/GpsHealth.h"

namespace halvik {

GpsHealthCode GpsHealthFromReport(const GpsReport& report) {
  if (!report.timeFresh) return GpsHealthCode::NoTime;
  if (report.mode == GpsFixMode::ThreeD && report.fixOnGlobe) return GpsHealthCode::Fixing;
  if (report.mode == GpsFixMode::TwoD) return GpsHealthCode::ThreeSatellites;
  switch (report.satellitesUsed) {
    case 0:
      return GpsHealthCode::NoSatellites;
    case 1:
      return GpsHealthCode::OneSatellite;
    case 2:
      return GpsHealthCode::TwoSatellites;
    case 3:
      return GpsHealthCode::ThreeSatellites;
    default:
      // Enough satellites for a fix and still none: their geometry is too poor.
      return report.satellitesUsed > 3 ? GpsHealthCode::BadPdop : GpsHealthCode::NoSatellites;
  }
}

}  // namespace halvik
