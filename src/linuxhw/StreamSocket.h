#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Socket.h"

struct addrinfo;

namespace halvik {

// A host and a service port as given on the command line: "HOST:PORT", "[IPv6]:PORT".
struct HostPort {
  std::string host;
  std::string port;  // decimal, 1..65535
};

// Splits "HOST:PORT" (an IPv6 address in brackets); nothing when the host is empty or the port
// is not a number from 1 to 65535. `defaultPort` is taken when the text has no ":PORT" part;
// empty: the port is required.
std::optional<HostPort> ParseHostPort(std::string_view text, std::string_view defaultPort = {});

// The addresses of a name look-up, freed with the list.
class AddressList {
 public:
  explicit AddressList(addrinfo* first) : first_(first) {}
  ~AddressList();
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;
  const addrinfo* first() const { return first_; }

 private:
  addrinfo* first_;
};

// The TCP addresses of `address`, waiting at most `boundMs` for the name service (one that does
// not answer would hold the caller for its whole time-out, several times over). Empty on failure,
// `error` saying why; a look-up given up on finishes in the background and frees itself.
AddressList ResolveTcp(const HostPort& address, int boundMs, std::string& error);

// Connects a TCP stream to `address`, waiting at most `boundMs` in all for the name look-up and
// the far end to answer (a host that is down or drops the packets would otherwise hold the caller
// for minutes). The socket is left non-blocking. On failure the result is invalid and `error` says
// why, in the system's words ("Connection refused").
UniqueFd ConnectTcp(const HostPort& address, int boundMs, std::string& error);

// The numeric "ADDRESS:PORT" ("[ADDRESS]:PORT" for IPv6) a connected socket reaches; empty when
// it reaches none.
std::string PeerHostPort(int fd);

}  // namespace halvik
