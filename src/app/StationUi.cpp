#include "app/StationUi.h"

#include "config/SatelliteList.h"
#include "platform/Units.h"
#include "tracking/TrackingLoop.h"
#include "ui/DialogRules.h"

namespace halvik {

void StationMenuCommands::AddSatellite(const std::string& name) {
  halvik::AddSatellite(station_.config(), name);
}

void StationMenuCommands::DeleteSatellite(const std::string& name) {
  halvik::DeleteSatellite(station_.config(), name);
}

LocationFields StationMenuCommands::CurrentLocation() {
  shownLocation_ = ReadLocation(station_.environment().dir);
  return {shownLocation_.latitude, shownLocation_.longitude, shownLocation_.height};
}

void StationMenuCommands::UpdateLocation(double latitudeDeg, double longitudeDeg,
                                         double heightFeet) {
  const StationEnvironment& env = station_.environment();
  halvik::UpdateLocation(station_.config(), shownLocation_, latitudeDeg, longitudeDeg, heightFeet,
                         [&env] { CheckMapFiles(env.dir, env.messages); });
}

double StationMenuCommands::MinimumElevationDegrees() {
  return DisplayDegrees(station_.station.minimumElevation);
}

void StationMenuCommands::UpdateMinimumElevation(double degrees) {
  halvik::UpdateMinimumElevation(station_.config(), degrees);
}

AboutValues StationMenuCommands::About() {
  return ReadAboutValues(station_.environment().systemInfo, station_.environment().dir);
}

StatusSources StatusSourcesOf(Station& station, ReceiverReadout& receiver) {
  return StatusSources{station.environment().clock,
                       receiver,
                       station.tracking,
                       station.table,
                       station.antennaState,
                       station.captureStatus,
                       station.gpsState,
                       station.quickLook};
}

}  // namespace halvik
