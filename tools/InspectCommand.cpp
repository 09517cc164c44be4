#include <iostream>
#include <memory>
#include <string>

#include "capture/CaptureFileReader.h"
#include "tools/Commands.h"

namespace halvik::tools {

void AddInspectCommand(CLI::App& app, int& exitCode) {
  CLI::App* sub = app.add_subcommand(
      "inspect", "Show a capture file's header, markers and runs of frames, block by block");
  auto file = std::make_shared<std::string>();
  sub->add_option("FILE", *file, "capture file, under its final or its temporary name")->required();
  sub->callback([file, &exitCode] { exitCode = InspectCaptureFile(*file, std::cout, std::cerr); });
}

}  // namespace halvik::tools
