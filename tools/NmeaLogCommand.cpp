#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "config/StationFiles.h"
#include "orbit/PropagateListing.h"
#include "platform/Clock.h"
#include "platform/Units.h"
#include "sim/NmeaLog.h"
#include "tools/Commands.h"

namespace halvik::tools {

void AddNmeaLogCommand(CLI::App& app, int& exitCode) {
  struct Settings {
    int reports = 60;
    std::string from;
  };
  auto settings = std::make_shared<Settings>();
  CLI::App* command = app.add_subcommand(
      "nmea-log",
      "Stand in for a GPS receiver: write an NMEA log of a fix at the position in location.dat "
      "of the current directory, one report a second, for gpsfake to feed gpsd with");
  command->add_option("--from", settings->from,
                      "Time of the first report, UTC: 2024-01-01T00:00:00Z (now)");
  command->add_option("--reports", settings->reports, "How many reports (seconds)")
      ->check(CLI::Range(1, 86400))
      ->capture_default_str();
  command->callback([settings, &exitCode] {
    std::int64_t from = RealClock().Now().seconds;
    if (!settings->from.empty()) {
      const std::optional<double> parsed = ParseIsoUtc(settings->from);
      if (!parsed) {
        std::cerr << "halvik nmea-log: --from must be a UTC time such as 2024-01-01T00:00:00Z\n";
        exitCode = 2;
        return;
      }
      from = static_cast<std::int64_t>(std::floor(*parsed));
    }
    const LocationValues location = ReadLocation(".");
    if (!location.found) {
      std::cerr << "halvik nmea-log: no location.dat in the current directory\n";
      exitCode = 2;
      return;
    }
    NmeaFix fix;
    fix.latitudeDeg = location.latitude;
    fix.longitudeDeg = location.longitude;
    // location.dat holds the height above the ellipsoid; the sentences carry it above the geoid.
    fix.altitudeMetres = location.height / kFeetPerMetre - kNmeaGeoidSeparationMetres;
    fix.utcSeconds = from;
    fix.reports = settings->reports;
    std::cout << NmeaLog(fix);
    std::cout.flush();
    exitCode = std::cout ? 0 : 1;
  });
}

}  // namespace halvik::tools
