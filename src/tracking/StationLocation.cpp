#include "tracking/StationLocation.h"

#include <cmath>

#include "config/StationFileNames.h"
#include "config/StationFiles.h"
#include "devices/GpsMonitor.h"
#include "platform/Files.h"
#include "platform/Units.h"

namespace halvik {

bool StationDiffersFromFix(const StationConfig& station, double latitudeDeg, double longitudeDeg,
                           double altitudeFeet) {
  // The station is compared in the GPS's units: degrees and feet. A fix that is not a number
  // fails every comparison and moves nothing.
  return std::fabs(latitudeDeg - GpsDegrees(station.latitude)) > kLocationToleranceDeg ||
         std::fabs(longitudeDeg - GpsDegrees(station.longitude)) > kLocationToleranceDeg ||
         std::fabs(altitudeFeet - station.height * kFeetPerEarthRadius) > kHeightToleranceFeet;
}

void StationLocation::CheckStationLocation(int& locationCheckCountdown) {
  locationCheckCountdown = kLocationCheckPeriodSeconds;
  GpsState& gps = context_.gpsState;
  if (gps.GpsHealth.load() != HealthByte(GpsHealthCode::Fixing)) return;

  context_.gps.GpsReadPosition();
  if (gps.GpsAltitude.load() < 0.0) gps.GpsAltitude = 0.0;
  const double latitude = gps.GpsLatitude;
  const double longitude = gps.GpsLongitude;
  const double altitude = gps.GpsAltitude;
  if (!(longitude < kGpsNoFix)) return;  // no valid fix
  if (!StationDiffersFromFix(context_.station, latitude, longitude, altitude)) return;

  context_.beeper.Beep();
  const std::string text = LocationText(latitude, longitude, altitude, MachineTimeZoneHours());
  if (!WriteFileAtomically(context_.dir / kLocationFile, text)) {
    // The old file is still whole; the station is not reloaded, and the next check tries again.
    if (!writeFailureShown_) {
      writeFailureShown_ = true;
      context_.messages.Show(kLocationNotWrittenMessage);
    }
    return;
  }
  writeFailureShown_ = false;

  ConfigContext config{context_.dir, context_.table, context_.station, context_.messages};
  ReloadStation(config);
  if (checkMapFiles_) checkMapFiles_();
}

}  // namespace halvik
