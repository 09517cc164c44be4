#include <CLI/CLI.hpp>

#include <cstdio>

#include "app/BrokenPipe.h"
#include "tools/Commands.h"

int main(int argc, char** argv) {
  if (!halvik::IgnoreBrokenPipe()) std::perror("halvik: SIGPIPE cannot be ignored");
  CLI::App app{"Halvik NT: unattended HRPT ground station"};
  app.require_subcommand(0, 1);
  app.set_version_flag("--version", "halvik " HALVIK_VERSION);
  int exitCode = 0;
  halvik::tools::AddCommands(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  return exitCode;
}
