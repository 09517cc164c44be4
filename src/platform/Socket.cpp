#include "platform/Socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace halvik {

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

UniqueFd ListenLoopback(std::uint16_t& port, std::string& error) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    error = std::strerror(errno);
    return {};
  }
  const int yes = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0) {
    error = std::strerror(errno);
    return {};
  }
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

bool SendAll(int fd, std::span<const std::uint8_t> bytes, const std::atomic<bool>& stop,
             int checkMs) {
  while (!bytes.empty()) {
    if (stop) return false;
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, checkMs) <= 0) continue;
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

void SleepUntil(std::chrono::steady_clock::time_point due, const std::atomic<bool>& stop,
                int checkMs) {
  using Steady = std::chrono::steady_clock;
  for (Steady::duration left = due - Steady::now(); !stop && left > left.zero();
       left = due - Steady::now()) {
    std::this_thread::sleep_for(
        std::min<Steady::duration>(left, std::chrono::milliseconds(checkMs)));
  }
}

}  // namespace halvik
