#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace halvik::web {

// A connection to the server on loopback that has sent `request` as it is (whole or not); -1
// when it cannot be made. Reads on it give up after 10 s.
inline int SendRaw(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  timeval timeout{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  return fd;
}

// Everything the server sends on `fd` until it closes (or 10 s without a byte).
inline std::string ReadAll(int fd) {
  std::string all;
  char buffer[4096];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
    all.append(buffer, static_cast<std::size_t>(n));
  }
  return all;
}

// Sends `request` as it is on a fresh connection and returns the status of the reply (0 when
// the server closed without one).
inline int RawStatus(int port, const std::string& request) {
  const int fd = SendRaw(port, request);
  if (fd < 0) return -1;
  char buffer[64] = {};
  const ssize_t got = recv(fd, buffer, sizeof buffer - 1, 0);
  close(fd);
  if (got >= 12 && std::string(buffer, 5) == "HTTP/") return std::atoi(buffer + 9);
  return 0;
}

}  // namespace halvik::web
