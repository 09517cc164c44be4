#include <chrono>
#include <iostream>
#include <memory>

#include "sim/StreamFrameServer.h"
#include "tools/Commands.h"

namespace halvik::tools {

void AddServeFramesCommand(CLI::App& app, int& exitCode) {
  struct Settings {
    int port = 0;
    FrameServerOptions served;
  };
  auto settings = std::make_shared<Settings>();
  settings->served.speed = 1;
  CLI::App* command = app.add_subcommand(
      "serve-frames",
      "Stand in for a demodulator: serve a pass of simulated HRPT frames on 127.0.0.1 as "
      "16-bit little-endian words, one client at a time, until interrupted");
  command->add_option("--port", settings->port, "TCP port on 127.0.0.1 (0: a free one, printed)")
      ->check(CLI::Range(0, 65535));
  command
      ->add_option("--satellite", settings->served.satelliteName,
                   "Satellite whose frames are sent (chooses the family)")
      ->capture_default_str();
  command
      ->add_option("--speed", settings->served.speed,
                   "Six frames a second times this; 0 sends as fast as the client reads")
      ->check(CLI::Range(0.0, 10000.0))
      ->capture_default_str();
  command->add_option("--drop-after", settings->served.dropAfterFrames,
                      "Drop each connection after this many frames (-1: never)");
  command->callback([settings, &exitCode] {
    // Blocked before the serving thread starts, so interrupts reach this thread only.
    const StopSignals stopSignals;

    settings->served.startUtcMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
    StreamFrameServer server(settings->served);
    std::string error;
    if (!server.Listen(static_cast<std::uint16_t>(settings->port), error)) {
      std::cerr << "halvik serve-frames: port " << settings->port << ": " << error << "\n";
      exitCode = 2;
      return;
    }
    std::cout << "Serving " << settings->served.satelliteName
              << " frames on 127.0.0.1:" << server.port() << std::endl;
    stopSignals.Wait();
    exitCode = 0;
  });
}

}  // namespace halvik::tools
