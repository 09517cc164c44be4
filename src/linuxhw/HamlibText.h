#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace halvik {

// Hamlib's text for a status code (its calls return negative codes).
std::string HamlibErrorText(int status);

// Hamlib reports on standard error at its default level; the station has its own messages.
void QuietHamlib();

// Hamlib's registry of backends and its debug level are process-wide, and two stations in one
// process each open their own devices: the calls that touch that registry (init, cleanup, the
// debug level) hold this lock. It is never held across an exchange with a device: each device has
// one owning thread, and a device that does not answer holds only its owner.
std::recursive_mutex& HamlibLock();

// The longest a network device's connection attempt (look-up and connect) holds its owner, and
// the longest each exchange then waits for an answer (Hamlib's own defaults wait up to 20 s over
// several retries; the station tries again later instead).
inline constexpr int kHamlibConnectWaitMs = 250;
inline constexpr int kHamlibReplyWaitMs = 300;

// The port settings (Hamlib token, value) a device is opened with: `port` as its path (token
// `pathToken`, none when empty). A device reached over the network (rotctld, rigctld) is given
// HOST:PORT (`defaultPort` when empty) looked up and connected to within kHamlibConnectWaitMs
// and answering a request within kHamlibReplyWaitMs, as the numeric address that answered, so that
// Hamlib neither looks the name up nor connects without a bound, and a reply wait of
// kHamlibReplyWaitMs without retries. Nothing when it does not answer; `error` says why.
using HamlibSettings = std::vector<std::pair<const char*, std::string>>;
std::optional<HamlibSettings> HamlibPortSettings(bool network, const std::string& port,
                                                 const char* pathToken, const char* defaultPort,
                                                 std::string& error);

}  // namespace halvik
