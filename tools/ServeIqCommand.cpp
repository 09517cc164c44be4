#include <iostream>
#include <memory>
#include <optional>
#include <span>

#include "app/SimStart.h"
#include "config/StationFileNames.h"
#include "config/StationFiles.h"
#include "sim/IqServer.h"
#include "tools/Commands.h"

namespace halvik::tools {

void AddServeIqCommand(CLI::App& app, int& exitCode) {
  struct Settings {
    int port = 0;
    std::string satellite = "NOAA 15";
    std::string station = ".";
    double rate = 3.0e6;
    std::optional<double> ebn0;
    double speed = 0;
  };
  auto settings = std::make_shared<Settings>();
  CLI::App* command = app.add_subcommand(
      "serve-iq",
      "Stand in for an SDR: an rtl_tcp server on 127.0.0.1 sending the samples of a satellite's "
      "first pass over the station (simulated frames, the pass's Doppler, Eb/N0 from 8 dB at the "
      "horizon to 16 dB overhead), one client at a time, until interrupted");
  command->add_option("--port", settings->port, "TCP port on 127.0.0.1 (0: a free one, printed)")
      ->check(CLI::Range(0, 65535));
  command
      ->add_option("--satellite", settings->satellite,
                   "Satellite whose pass is sent (its element set from the station's elements)")
      ->capture_default_str();
  command->add_option("--station", settings->station, "Station directory")->capture_default_str();
  command->add_option("--rate", settings->rate, "Samples per second until the client asks another")
      ->check(CLI::Range(1.0e6, 1.0e7))
      ->capture_default_str();
  command->add_option("--ebn0", settings->ebn0, "A fixed Eb/N0, dB, in place of the elevation's")
      ->check(CLI::Range(-10.0, 100.0));
  command
      ->add_option("--speed", settings->speed,
                   "The pass runs this many times faster than real time from the server's start, "
                   "which stands for the station's next-pass start (frames a slow client cannot "
                   "take are skipped); 0 sends every frame as fast as the client reads")
      ->check(CLI::Range(0.0, 10000.0))
      ->capture_default_str();
  command->callback([settings, &exitCode] {
    // Blocked before the serving thread starts, so interrupts reach this thread only.
    const StopSignals stopSignals;
    const std::filesystem::path dir = settings->station;
    sim::IqServerOptions served;
    if (sim::FindTrueSatellite(dir / kElementsFile, settings->satellite, served.satellite) !=
            ElementSetResult::Ok ||
        served.satellite.downlink.frequencyMHz <= 0) {
      std::cerr << "halvik serve-iq: no downlink and element set of " << settings->satellite
                << " in " << (dir / kElementsFile).string() << "\n";
      exitCode = 2;
      return;
    }
    // The pass the station follows first: the satellite's first rise after the moment a
    // next-pass simulation of this station starts.
    const std::optional<SystemTime> simStart = NextPassStart(dir);
    const LocationValues location = ReadLocation(dir);
    const sim::TrueStation station{location.latitude, location.longitude, location.height};
    const std::optional<double> aos =
        simStart ? sim::FirstAos(std::span(&served.satellite, 1), station, simStart->AsSeconds(),
                                 ReadMinimumElevationDeg(dir))
                 : std::nullopt;
    if (!aos) {
      std::cerr << "halvik serve-iq: " << settings->satellite << " does not rise over "
                << dir.string() << " within two days\n";
      exitCode = 2;
      return;
    }
    served.station = sim::MakeStationConfig(station);
    served.startUtcSeconds = *aos;
    served.sampleRate = settings->rate;
    served.ebn0Db = settings->ebn0;
    served.speed = settings->speed;
    served.clockStartUtcSeconds = simStart->AsSeconds();
    sim::IqServer server(served);
    std::string error;
    if (!server.Listen(static_cast<std::uint16_t>(settings->port), error)) {
      std::cerr << "halvik serve-iq: port " << settings->port << ": " << error << "\n";
      exitCode = 2;
      return;
    }
    std::cout << "Serving " << settings->satellite << " samples on 127.0.0.1:" << server.port()
              << std::endl;
    stopSignals.Wait();
    exitCode = 0;
  });
}

}  // namespace halvik::tools
