#include "linuxhw/StreamSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/Text.h"

namespace halvik {
namespace {

bool ValidPort(std::string_view port) {
  int value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  return ec == std::errc{} && end == port.data() + port.size() && value >= 1 && value <= 65535;
}

// Waits up to `boundMs` for a connect in progress to end. A signal (the station's SIGHUP reload,
// say) ends a poll early; the wait goes on for what is left of the bound, so it never turns
// into a failed connection.
bool WaitWritable(int fd, int boundMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLOUT, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    if (n == 1) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

// One name look-up on a thread of its own. The caller and the thread share it; whoever lets go
// last frees it, so a look-up that outlives its wait (a name server that never answers) is
// neither waited for nor leaked. (glibc's getaddrinfo_a would do the same on threads that the
// thread sanitizer cannot see, and crashes under it.)
struct Lookup {
  std::string host;
  std::string port;
  int status = EAI_AGAIN;
  addrinfo* result = nullptr;
  std::promise<void> done;  // result and status are written before it is set

  ~Lookup() {
    if (result) ::freeaddrinfo(result);
  }
};

}  // namespace

AddressList::~AddressList() {
  if (first_) ::freeaddrinfo(first_);
}

AddressList ResolveTcp(const HostPort& address, int boundMs, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  {  // A numeric address needs no name service, and no thread.
    addrinfo numeric = hints;
    numeric.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.host.c_str(), address.port.c_str(), &numeric, &found) == 0) {
      return AddressList(found);
    }
  }
  auto lookup = std::make_shared<Lookup>();
  lookup->host = address.host;
  lookup->port = address.port;
  std::future<void> finished = lookup->done.get_future();
  try {
    std::thread([lookup, hints] {
      lookup->status =
          ::getaddrinfo(lookup->host.c_str(), lookup->port.c_str(), &hints, &lookup->result);
      lookup->done.set_value();
    }).detach();
  } catch (const std::system_error& failure) {
    error = failure.what();
    return AddressList(nullptr);
  }
  if (finished.wait_for(std::chrono::milliseconds(boundMs)) != std::future_status::ready) {
    error = "no answer from the name service";
    return AddressList(nullptr);
  }
  if (lookup->status != 0) {
    error = ::gai_strerror(lookup->status);
    return AddressList(nullptr);
  }
  return AddressList(std::exchange(lookup->result, nullptr));
}

std::optional<HostPort> ParseHostPort(std::string_view text, std::string_view defaultPort) {
  std::string_view host = text;
  std::string_view port = defaultPort;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      port = rest.substr(1);
    }
  } else if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    // A bare IPv6 address has more than one colon and must be bracketed to carry a port.
    if (host.find(':') != std::string_view::npos) return std::nullopt;
  }
  if (host.empty() || !ValidPort(port)) return std::nullopt;
  return HostPort{std::string(host), std::string(port)};
}

UniqueFd ConnectTcp(const HostPort& address, int boundMs, std::string& error) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  const AddressList found = ResolveTcp(address, boundMs, error);
  if (!found.first()) return {};
  error = "no address";
  UniqueFd result;
  for (const addrinfo* a = found.first(); a != nullptr && !result.valid(); a = a->ai_next) {
    UniqueFd fd(
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (!fd.valid()) {
      error = std::strerror(errno);
      continue;
    }
    if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        error = std::strerror(errno);
        continue;
      }
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (!WaitWritable(fd.get(), static_cast<int>(std::max<std::int64_t>(left.count(), 0)))) {
        error = "no answer";
        continue;
      }
      int status = 0;
      socklen_t length = sizeof status;
      if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &status, &length) != 0) status = errno;
      if (status != 0) {
        error = std::strerror(status);
        continue;
      }
    }
    result = std::move(fd);
  }
  if (result.valid()) error.clear();
  return result;
}

std::string PeerHostPort(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return {};
  char host[NI_MAXHOST];
  char port[NI_MAXSERV];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), length, host, sizeof host, port,
                    sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return {};
  }
  return peer.ss_family == AF_INET6 ? Format("[%s]:%s", host, port) : Format("%s:%s", host, port);
}

}  // namespace halvik
