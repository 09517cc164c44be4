#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "devices/Downlink.h"
#include "imaging/CaptureImages.h"
#include "tools/Commands.h"

namespace halvik::tools {

void AddImageCommand(CLI::App& app, int& exitCode) {
  CLI::App* sub = app.add_subcommand(
      "image", "Make a capture's channel images, colour composite, thumbnail and quality record");
  auto file = std::make_shared<std::string>();
  auto out = std::make_shared<std::string>();
  auto family = std::make_shared<std::string>();
  sub->add_option("CAPTURE", *file, "capture file")->required();
  sub->add_option("--family", *family,
                  "the capture's downlink family (default: CADUs for a .cadu file, else from the "
                  "capture)")
      ->check(CLI::IsMember({"noaa", "fengyun", "seastar", "meteor"}));
  sub->add_option("--out", *out, "directory for the files (default: the capture's own)");
  sub->callback([file, out, family, &exitCode] {
    std::optional<std::filesystem::path> dir;
    if (!out->empty()) dir = *out;
    std::optional<SatelliteFamily> chosen;
    for (const FamilyFacts& facts : kFamilies) {
      if (*family == facts.name) chosen = facts.family;
    }
    exitCode = ImageCaptureFile(*file, dir, std::cout, std::cerr, chosen);
  });
}

}  // namespace halvik::tools
