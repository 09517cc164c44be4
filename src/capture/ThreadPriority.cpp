#include "capture/ThreadPriority.h"

#include <sched.h>

#include <algorithm>

namespace halvik {

bool RaiseThreadPriority(pthread_t thread, int priority) {
  int oldPolicy = 0;
  sched_param oldParam{};
  if (pthread_getschedparam(thread, &oldPolicy, &oldParam) != 0) return false;
  int low = sched_get_priority_min(SCHED_FIFO);
  int high = sched_get_priority_max(SCHED_FIFO);
  if (low < 0 || high < 0) return false;
  sched_param wanted{};
  wanted.sched_priority = std::clamp(priority, low, high);
  if (pthread_setschedparam(thread, SCHED_FIFO, &wanted) == 0) return true;
  // Refused: make sure the thread runs as it did before.
  (void)pthread_setschedparam(thread, oldPolicy, &oldParam);
  return false;
}

}  // namespace halvik
