#include "tools/Commands.h"

namespace halvik::tools {

void AddCommands(CLI::App& app, int& exitCode) {
  AddPropagateCommand(app, exitCode);
  AddInspectCommand(app, exitCode);
  AddImageCommand(app, exitCode);
  AddPassesCommand(app, exitCode);
  AddInitStationCommand(app, exitCode);
  AddUpdateElementsCommand(app, exitCode);
  AddServeFramesCommand(app, exitCode);
  AddNmeaLogCommand(app, exitCode);
  AddDemodCommand(app, exitCode);
  AddRunOptions(app, exitCode);
}

}  // namespace halvik::tools
