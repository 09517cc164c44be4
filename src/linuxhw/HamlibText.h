#pragma once

#include <mutex>
#include <string>

namespace halvik {

// Hamlib's text for a status code (its calls return negative codes).
std::string HamlibErrorText(int status);

// Hamlib reports on standard error at its default level; the station has its own messages.
void QuietHamlib();

// Hamlib keeps process-wide state behind every rig and rotator call, so two threads may not be
// inside it at once: the rotator is driven by the tracking thread while the status view reads the
// rig. Every call into Hamlib holds this one lock (recursive: a reconnect opens from inside an
// exchange). The library's state is process-wide, and so is its lock.
std::recursive_mutex& HamlibLock();

}  // namespace halvik
