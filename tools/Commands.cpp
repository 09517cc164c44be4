#include "tools/Commands.h"

namespace halvik::tools {

void AddCommands(CLI::App& app, int& exitCode) {
  (void)app;
  (void)exitCode;
}

}  // namespace halvik::tools
