#include "linuxhw/HamlibText.h"

#include <hamlib/rig.h>

#include <cstdlib>

namespace halvik {

std::string HamlibErrorText(int status) {
  const char* text = rigerror(status);
  std::string result = text ? text : "unknown error";
  // rigerror appends a line end (and, in some versions, a call trace after it).
  if (std::size_t end = result.find_first_of("\r\n"); end != std::string::npos) result.resize(end);
  return result;
}

void QuietHamlib() {
  std::lock_guard lock(HamlibLock());
  rig_set_debug(RIG_DEBUG_NONE);
}

std::recursive_mutex& HamlibLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace halvik
