#pragma once

#include <cstdint>
#include <string>

namespace halvik {

// A file descriptor closed when its owner goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release();
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A listening TCP socket on 127.0.0.1; `port` 0 takes a free one, which `port` then holds.
UniqueFd ListenLoopback(std::uint16_t& port, std::string& error);

}  // namespace halvik
