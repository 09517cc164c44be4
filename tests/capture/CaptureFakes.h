#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Device.h"
#include "platform/Spawn.h"
#include "platform/SystemInfo.h"
#include "support/PlatformFakes.h"

namespace halvik::testing {

// The pseudo-noise words the scripted frames end in, and the bytes of a pn.fil holding them.
std::array<std::uint16_t, 100> TestPseudoNoise();
std::string PnFileBytes(const std::array<std::uint16_t, 100>& words);

enum class FrameKind { Sync, NoSync };

// A frame as the scripted board makes it: the six sync words (or not), the frame's number in
// words 6 and 7 (20 bits, 10 in each), a fixed pattern of 10-bit words, the pseudo-noise tail.
std::vector<std::uint16_t> MakeFrame(FrameKind kind, std::int64_t number, int frameWords);
// The number a MakeFrame frame carries.
std::int64_t FrameNumber(const std::uint16_t* frame);

// The synchronizer board for tests: delivers a scripted stream of minor frames in 8192-word
// blocks, starting a fresh frame after every start code (as a board that locks anew), and
// records every control call. Strict: an unknown code or a buffer of the wrong size fails the
// test. Thread-safe.
class ScriptedSynchronizer final : public Device {
 public:
  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output, std::uint32_t& transferred) override;

  // The stream: queued frames first, then frames of the default kind.
  void SetFrameWords(int words);
  void Queue(FrameKind kind, int count = 1);
  void QueueFrame(std::vector<std::uint16_t> frame);
  void SetDefault(FrameKind kind);

  // Failures: every read from this one on (counted from 0) fails; one read transfers fewer
  // bytes (the stream goes on from the last word it delivered).
  void FailReadsFrom(std::int64_t read);
  void ShortTransferOn(std::int64_t read, std::uint32_t bytes);
  // Sets `flag` when this many reads have been made (for tests that run Run()).
  void StopAfterReads(std::atomic<std::int32_t>& flag, std::int64_t reads);

  // What happened.
  std::vector<std::uint32_t> Codes() const;
  std::vector<std::vector<std::uint8_t>> Inputs() const;
  int Count(std::uint32_t code) const;
  std::int64_t reads() const;
  std::int64_t framesCompleted() const;  // frames whose last word went out
  std::int64_t framesBegun() const;      // frames whose first word went out (their numbers)
  bool midFrame() const;                 // the last read ended inside a frame
  void ClearRecord();

 private:
  void BeginFrame();

  mutable std::mutex mutex_;
  int frameWords_ = 11090;
  std::deque<std::vector<std::uint16_t>> queue_;
  FrameKind default_ = FrameKind::NoSync;
  std::vector<std::uint16_t> current_;
  std::size_t position_ = 0;  // 0: the next word begins a frame
  std::int64_t framesBegun_ = 0;
  std::int64_t framesCompleted_ = 0;
  std::int64_t reads_ = 0;
  std::int64_t failFrom_ = -1;
  std::int64_t shortRead_ = -1;
  std::uint32_t shortBytes_ = 0;
  std::atomic<std::int32_t>* stopFlag_ = nullptr;
  std::int64_t stopAfter_ = -1;
  std::vector<std::uint32_t> codes_;
  std::vector<std::vector<std::uint8_t>> inputs_;
};

// Free space as the test says: a fixed answer, or one computed on each query.
class FakeSystemInfo final : public SystemInfo {
 public:
  std::optional<std::uint64_t> PhysicalMemoryBytes() override { return 1ull << 30; }
  std::optional<double> FreeBytes(const std::filesystem::path& dir) override;
  std::string MountPoint(const std::filesystem::path&) override { return "/"; }

  std::function<std::optional<double>()> free = [] { return std::optional<double>(1e12); };
  int queries = 0;
};

// The words of a file as 16-bit little-endian values.
std::vector<std::uint16_t> ReadWords(const std::filesystem::path& path);

}  // namespace halvik::testing
