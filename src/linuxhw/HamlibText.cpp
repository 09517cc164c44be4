#include "linuxhw/HamlibText.h"

#include <hamlib/rig.h>
#include <poll.h>
#include <sys/socket.h>

#include "linuxhw/StreamSocket.h"

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

std::optional<HamlibSettings> HamlibPortSettings(bool network, const std::string& port,
                                                 const char* pathToken, const char* defaultPort,
                                                 std::string& error) {
  if (!network) {
    if (port.empty()) return HamlibSettings{};
    return HamlibSettings{{pathToken, port}};
  }
  const std::optional<HostPort> address =
      ParseHostPort(port.empty() ? "localhost" : port, defaultPort);
  if (!address) {
    error = "wants HOST:PORT";
    return std::nullopt;
  }
  const UniqueFd probe = ConnectTcp(*address, kHamlibConnectWaitMs, error);
  if (!probe.valid()) return std::nullopt;
  // The kernel completes a connection for a daemon that is stopped or hung, and fills its accept
  // queue with them; Hamlib's own connect, which has no time limit, would then wait for a place
  // in it. So the daemon must also answer: "_" (its information) gets some reply, even an error
  // report, from rotctld and rigctld alike.
  pollfd reply{probe.get(), POLLIN, 0};
  char byte = 0;
  if (::send(probe.get(), "_\n", 2, MSG_NOSIGNAL) != 2 ||
      ::poll(&reply, 1, kHamlibReplyWaitMs) != 1 ||
      ::recv(probe.get(), &byte, 1, MSG_DONTWAIT) != 1) {
    error = "no answer";
    return std::nullopt;
  }
  std::string numeric = PeerHostPort(probe.get());
  if (numeric.empty()) {
    error = "no address";
    return std::nullopt;
  }
  return HamlibSettings{
      {pathToken, numeric}, {"timeout", std::to_string(kHamlibReplyWaitMs)}, {"retry", "0"}};
}

}  // namespace halvik
