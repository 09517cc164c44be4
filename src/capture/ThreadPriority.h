#pragma once

#include <pthread.h>

namespace halvik {

// Puts a thread under the real-time FIFO policy at `priority` (clamped to the policy's range).
// When the system refuses, as it does for an unprivileged process, the thread keeps its old
// policy and priority and the answer is false; that is not an error for the caller.
bool RaiseThreadPriority(pthread_t thread, int priority);

}  // namespace halvik
