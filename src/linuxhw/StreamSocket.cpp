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
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLOUT, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    if (n == 1) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

}  // namespace

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

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

UniqueFd ConnectTcp(const HostPort& address, int boundMs, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int status = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found);
      status != 0) {
    error = ::gai_strerror(status);
    return {};
  }
  error = "no address";
  UniqueFd result;
  for (const addrinfo* a = found; a != nullptr && !result.valid(); a = a->ai_next) {
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
      if (!WaitWritable(fd.get(), boundMs)) {
        error = "no answer";
        continue;
      }
      int status = 0;
      socklen_t length = sizeof status;
      ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &status, &length);
      if (status != 0) {
        error = std::strerror(status);
        continue;
      }
    }
    result = std::move(fd);
  }
  ::freeaddrinfo(found);
  if (result.valid()) error.clear();
  return result;
}

UniqueFd ListenLoopback(std::uint16_t& port, std::string& error) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    error = std::strerror(errno);
    return {};
  }
  const int yes = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t length = sizeof address;
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(fd.get(), 4) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error = std::strerror(errno);
    return {};
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace halvik
