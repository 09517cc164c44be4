#pragma once

#include <string>

namespace halvik {

// Menu command ids of the main window.
inline constexpr int kCommandExit = 57665;
inline constexpr int kCommandAddSatellite = 32773;
inline constexpr int kCommandDeleteSatellite = 32774;
inline constexpr int kCommandLocation = 32776;
inline constexpr int kCommandMinimumElevation = 32780;
inline constexpr int kCommandAbout = 57664;

// The station location as the Location dialog shows and returns it.
struct LocationFields {
  double latitude = 0;   // degrees, north positive
  double longitude = 0;  // degrees, east positive
  double height = 0;     // feet
};

// The two figures of the About box, already formatted.
struct AboutValues {
  std::string memory;
  std::string disk;
};

// What the operator's menu commands do to the station, called on the user-interface thread
// once a dialog has been confirmed. The station implements it; each call makes its own checks
// and shows its own messages.
class StationCommands {
 public:
  virtual ~StationCommands() = default;
  virtual void AddSatellite(const std::string& name) = 0;
  virtual void DeleteSatellite(const std::string& name) = 0;
  // The values location.dat holds now; the Location dialog opens with them.
  virtual LocationFields CurrentLocation() = 0;
  virtual void UpdateLocation(double latitudeDeg, double longitudeDeg, double heightFeet) = 0;
  // The minimum elevation in degrees (minimumElevation x kDisplayDegreesPerRadian).
  virtual double MinimumElevationDegrees() = 0;
  virtual void UpdateMinimumElevation(double degrees) = 0;
  virtual AboutValues About() = 0;
};

}  // namespace halvik
