#pragma once

#include <signal.h>

#include <CLI/CLI.hpp>

namespace halvik::tools {

// Each subcommand lives in its own file and registers itself here. The one that runs stores
// its exit status in `exitCode`, which main returns.
void AddCommands(CLI::App& app, int& exitCode);

void AddPropagateCommand(CLI::App& app, int& exitCode);
void AddInspectCommand(CLI::App& app, int& exitCode);
void AddImageCommand(CLI::App& app, int& exitCode);
void AddPassesCommand(CLI::App& app, int& exitCode);
void AddInitStationCommand(CLI::App& app, int& exitCode);
void AddUpdateElementsCommand(CLI::App& app, int& exitCode);
void AddServeFramesCommand(CLI::App& app, int& exitCode);
void AddServeIqCommand(CLI::App& app, int& exitCode);
void AddNmeaLogCommand(CLI::App& app, int& exitCode);
void AddDemodCommand(CLI::App& app, int& exitCode);
// For the serving commands: blocks SIGINT and SIGTERM in the calling thread (and in the threads it
// starts after, which inherit the mask) and waits for one of them.
class StopSignals {
 public:
  StopSignals();
  void Wait() const;

 private:
  sigset_t set_;
};

// Without a subcommand: run the station.
void AddRunOptions(CLI::App& app, int& exitCode);

}  // namespace halvik::tools
