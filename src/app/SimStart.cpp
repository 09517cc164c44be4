#include "app/SimStart.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "config/StationFileNames.h"
#include "config/StationFiles.h"
#include "platform/Files.h"
#include "sim/Sky.h"

namespace halvik {

std::optional<SystemTime> NextPassStart(const std::filesystem::path& stationDir) {
  std::vector<sim::TrueSatellite> satellites;
  double newestEpochSeconds = 0;
  LineReader sats(stationDir / kSatellitesFile);
  while (auto line = sats.Next()) {
    if (line->empty() || (*line)[0] == ' ') continue;
    sim::TrueSatellite satellite;
    if (sim::FindTrueSatellite(stationDir / kElementsFile, *line, satellite) !=
        ElementSetResult::Ok) {
      continue;
    }
    newestEpochSeconds = std::max(newestEpochSeconds, satellite.elements.epochMinutes * 60.0);
    satellites.push_back(satellite);
  }
  if (satellites.empty()) return std::nullopt;

  LocationValues location = ReadLocation(stationDir);
  sim::TrueStation station{location.latitude, location.longitude, location.height};
  std::optional<double> aos =
      sim::FirstAos(satellites, station, newestEpochSeconds, ReadMinimumElevationDeg(stationDir));
  if (!aos) return std::nullopt;
  return SystemTime::FromMilliseconds(std::llround((*aos - kSimLeadSeconds) * 1000.0));
}

}  // namespace halvik
