#include "app/BrokenPipe.h"

#include <signal.h>

namespace halvik {

bool IgnoreBrokenPipe() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  return ::sigaction(SIGPIPE, &action, nullptr) == 0;
}

}  // namespace halvik
