#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
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

// For the loopback servers' threads, which look at `stop` every `checkMs` while they wait.
// Sends all of `bytes` unless the peer goes or `stop` is set; false then.
bool SendAll(int fd, std::span<const std::uint8_t> bytes, const std::atomic<bool>& stop,
             int checkMs);
// Returns at `due` or once `stop` is set.
void SleepUntil(std::chrono::steady_clock::time_point due, const std::atomic<bool>& stop,
                int checkMs);

}  // namespace halvik
