#pragma once

#include <string_view>

#include "orbit/SatelliteTable.h"
#include "orbit/StationConfig.h"

namespace halvik {

// Sets the station's location from the three texts of location.dat: latitude and longitude in
// degrees (north and east positive) and height in feet; derives the geocentric values.
void SetStation(StationConfig& station, std::string_view latitudeDeg, std::string_view longitudeDeg,
                std::string_view heightFeet);

// Greenwich sidereal angle in [0, 2pi) at `tsince` minutes from an epoch given in minutes since
// 1950 January 0.0.
double SiderealTime(double tsince, double epoch1950Minutes);

struct LookAngles {
  double azimuth = 0;    // rad, [0, 2pi) from north through east
  double elevation = 0;  // rad
  double range = 0;      // Earth radii
};

struct SubSatellitePoint {
  double longitude = 0;  // rad, (-pi, pi], east positive
  double latitude = 0;   // rad, geocentric
  double distance = 0;   // Earth radii from the Earth's centre
};

LookAngles ComputeLookAngles(double tsince, double epoch1950Minutes, const double position[3],
                             const StationConfig& station);
SubSatellitePoint ComputeSubSatellitePoint(double tsince, double epoch1950Minutes,
                                           const double position[3]);

// How fast the range from the station grows, km/s (negative while the satellite approaches),
// from its inertial position (Earth radii) and velocity (Earth radii per minute) at `tsince`;
// the station turns with the Earth.
double RangeRateKmPerS(double tsince, double epoch1950Minutes, const double position[3],
                       const double velocity[3], const StationConfig& station);
// The shift of a carrier seen at the station, Hz, for a range rate: -rangeRate / c * carrier,
// so an approaching satellite's carrier arrives high.
double DopplerShiftHz(double rangeRateKmPerS, double carrierHz);

// Slot forms: use the slot's position (as left by Propagate at the same tsince) and write the
// slot's lookAngles / subSatellite.
void ComputeLookAngles(double tsince, SatelliteRecord& slot, const StationConfig& station);
void ComputeSubSatellitePoint(double tsince, SatelliteRecord& slot);

// In place: (x, y, z) -> (atan2(y, x) in [0, 2pi), asin(z / r), r).
void ToSpherical(double& x, double& y, double& z);

}  // namespace halvik
