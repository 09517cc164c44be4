#include <signal.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/PidFile.h"
#include "config/ElementSource.h"
#include "config/ElementUpdate.h"
#include "tools/Commands.h"

namespace halvik::tools {
namespace {

struct UpdateElementsOptions {
  std::string source;
  std::string dir = ".";
};

int UpdateElements(const UpdateElementsOptions& options) {
  std::string error;
  std::optional<std::string> text = ReadElementSource(options.source, error);
  if (!text) {
    std::cerr << "halvik update-elements: " << error << "; nothing changed\n";
    return 2;
  }
  const std::filesystem::path dir(options.dir);
  ElementUpdateResult result = UpdateElementFile(dir, *text);
  for (const std::string& line : result.report) {
    (result.refused ? std::cerr : std::cout) << "halvik update-elements: " << line << "\n";
  }
  if (result.refused) return 2;
  if (!result.changed) return 0;
  if (std::optional<pid_t> pid = RunningStationPid(dir)) {
    if (kill(*pid, SIGHUP) == 0) {
      std::cout << "halvik update-elements: station (pid " << *pid
                << ") told to reload elements.dat\n";
    } else {
      std::cerr << "halvik update-elements: cannot signal the station (pid " << *pid
                << "); it takes the new sets at its next start\n";
    }
  }
  return 0;
}

}  // namespace

void AddUpdateElementsCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<UpdateElementsOptions>();
  CLI::App* command = app.add_subcommand(
      "update-elements",
      "Merge newer element sets from a URL or a file into the station's elements.dat");
  command->add_option("SOURCE", options->source, "http(s) URL or file of two- or three-line sets")
      ->required();
  command->add_option("--dir", options->dir, "Station directory")->capture_default_str();
  command->callback([options, &exitCode] { exitCode = UpdateElements(*options); });
}

}  // namespace halvik::tools
