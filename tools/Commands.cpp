#include "tools/Commands.h"

namespace halvik::tools {

StopSignals::StopSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set_, nullptr);
}

void StopSignals::Wait() const {
  int signal = 0;
  sigwait(&set_, &signal);
}

void AddCommands(CLI::App& app, int& exitCode) {
  AddPropagateCommand(app, exitCode);
  AddInspectCommand(app, exitCode);
  AddImageCommand(app, exitCode);
  AddPassesCommand(app, exitCode);
  AddInitStationCommand(app, exitCode);
  AddUpdateElementsCommand(app, exitCode);
  AddServeFramesCommand(app, exitCode);
  AddServeIqCommand(app, exitCode);
  AddNmeaLogCommand(app, exitCode);
  AddDemodCommand(app, exitCode);
  AddRunOptions(app, exitCode);
}

}  // namespace halvik::tools
