#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

namespace halvik {

// A value that one thread writes and others read without a lock. Loads and stores are
// relaxed atomics: each reader sees some whole value from just before or just after an
// update, never a torn one. Where an order between values matters, use std::atomic directly
// with release/acquire.
template <class T>
class Shared {
 public:
  static_assert(std::atomic<T>::is_always_lock_free, "shared values must be lock-free");

  constexpr Shared() noexcept : value_{} {}
  constexpr Shared(T value) noexcept : value_{value} {}  // NOLINT: implicit by design
  Shared(const Shared& other) noexcept : value_{other.load()} {}
  Shared& operator=(const Shared& other) noexcept {
    store(other.load());
    return *this;
  }
  Shared& operator=(T value) noexcept {
    store(value);
    return *this;
  }
  operator T() const noexcept { return load(); }  // NOLINT: implicit by design

  T load() const noexcept { return value_.load(std::memory_order_relaxed); }
  void store(T value) noexcept { value_.store(value, std::memory_order_relaxed); }

 private:
  std::atomic<T> value_;
};

// A short NUL-terminated name shared between threads, one relaxed atomic per character.
// Capacity counts the terminating NUL, so at most Capacity - 1 characters are kept.
template <std::size_t Capacity>
class SharedName {
 public:
  void Set(std::string_view text) noexcept {
    std::size_t n = text.size() < Capacity - 1 ? text.size() : Capacity - 1;
    for (std::size_t i = 0; i < n; ++i) chars_[i] = text[i];
    for (std::size_t i = n; i < Capacity; ++i) chars_[i] = '\0';
  }
  std::string Get() const {
    std::string out;
    for (std::size_t i = 0; i < Capacity; ++i) {
      char c = chars_[i];
      if (c == '\0') break;
      out.push_back(c);
    }
    return out;
  }
  void Clear() noexcept { Set({}); }

 private:
  Shared<char> chars_[Capacity];
};

}  // namespace halvik
