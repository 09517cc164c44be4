#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/SampleStation.h"
#include "tools/Commands.h"

namespace halvik::tools {

void AddInitStationCommand(CLI::App& app, int& exitCode) {
  auto dir = std::make_shared<std::string>();
  auto sky = std::make_shared<std::string>("historical");
  CLI::App* command = app.add_subcommand(
      "init-station", "Lay out a complete sample station directory (refuses to overwrite one)");
  command->add_option("DIR", *dir, "Directory for the station")->required();
  command
      ->add_option("--sky", *sky,
                   "historical: NOAA, FengYun 1C and SeaStar with element sets of their day; "
                   "today: Meteor-M N2-3 and N2-4 over a high-latitude site")
      ->check(CLI::IsMember(std::vector<std::string>{"historical", "today"}))
      ->capture_default_str();
  command->callback([dir, sky, &exitCode] {
    // The sample post-processing programs run this very program to make the images.
    std::error_code ignored;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ignored);
    std::string error =
        InitStation(*dir, self, *sky == "today" ? SampleSky::Today : SampleSky::Historical);
    if (!error.empty()) {
      std::cerr << "halvik init-station: " << error << "\n";
      exitCode = 2;
      return;
    }
    std::cout << "Sample station laid out in " << *dir << "\n";
    exitCode = 0;
  });
}

}  // namespace halvik::tools
