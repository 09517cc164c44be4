#include "CaptureFakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "devices/ControlCodes.h"

namespace halvik::testing {

std::array<std::uint16_t, 100> TestPseudoNoise() {
  std::array<std::uint16_t, 100> words{};
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = static_cast<std::uint16_t>((i * 389 + 17) & 0x3FF);
  }
  return words;
}

std::string PnFileBytes(const std::array<std::uint16_t, 100>& words) {
  std::string bytes;
  for (std::uint16_t w : words) {
    bytes.push_back(static_cast<char>(w & 0xFF));
    bytes.push_back(static_cast<char>(w >> 8));
  }
  return bytes;
}

std::vector<std::uint16_t> MakeFrame(FrameKind kind, std::int64_t number, int frameWords) {
  static constexpr std::uint16_t kSync[6] = {0x284, 0x16F, 0x35C, 0x19D, 0x20F, 0x095};
  std::vector<std::uint16_t> frame(static_cast<std::size_t>(frameWords));
  for (int i = 0; i < 6; ++i) frame[i] = kind == FrameKind::Sync ? kSync[i] : 0x155;
  frame[6] = static_cast<std::uint16_t>((number >> 10) & 0x3FF);
  frame[7] = static_cast<std::uint16_t>(number & 0x3FF);
  for (int i = 8; i < frameWords - 100; ++i) {
    frame[i] = static_cast<std::uint16_t>((i * 7 + number) & 0x3FF);
  }
  auto pn = TestPseudoNoise();
  std::copy(pn.begin(), pn.end(), frame.end() - 100);
  return frame;
}

std::int64_t FrameNumber(const std::uint16_t* frame) {
  return (static_cast<std::int64_t>(frame[6]) << 10) | frame[7];
}

bool ScriptedSynchronizer::Control(std::uint32_t code, std::span<const std::uint8_t> input,
                                   std::span<std::uint8_t> output, std::uint32_t& transferred) {
  std::lock_guard lock(mutex_);
  transferred = 0;
  codes_.push_back(code);
  inputs_.emplace_back(input.begin(), input.end());
  switch (code) {
    case IOCTL_SYNC_CONFIGURE:
      EXPECT_EQ(input.size(), 2u) << "Configure takes a 16-bit value";
      EXPECT_TRUE(output.empty());
      return input.size() == 2;
    case IOCTL_SYNC_STOP_ACQUISITION:
      EXPECT_TRUE(input.empty() && output.empty());
      return true;
    case IOCTL_SYNC_START_NOAA:
    case IOCTL_SYNC_START_SEASTAR:
      EXPECT_TRUE(input.empty() && output.empty());
      // The board locks anew: a frame it was in the middle of is never finished.
      position_ = 0;
      return true;
    case IOCTL_SYNC_READ_BLOCK:
      break;
    default:
      ADD_FAILURE() << "unknown synchronizer control code 0x" << std::hex << code;
      return false;
  }
  EXPECT_TRUE(input.empty());
  EXPECT_EQ(output.size(), kSyncBlockBytes) << "ReadBlock wants a 16 KiB buffer";
  if (output.size() != kSyncBlockBytes) return false;
  const std::int64_t read = reads_++;
  if (stopFlag_ && reads_ >= stopAfter_) stopFlag_->store(1);
  if (failFrom_ >= 0 && read >= failFrom_) return false;
  std::size_t bytes = read == shortRead_ ? shortBytes_ : kSyncBlockBytes;
  std::size_t words = bytes / 2;
  for (std::size_t w = 0; w < words; ++w) {
    if (position_ == 0) BeginFrame();
    std::uint16_t value = current_[position_];
    output[2 * w] = static_cast<std::uint8_t>(value & 0xFF);
    output[2 * w + 1] = static_cast<std::uint8_t>(value >> 8);
    if (++position_ == current_.size()) {
      position_ = 0;
      ++framesCompleted_;
    }
  }
  transferred = static_cast<std::uint32_t>(bytes);
  return true;
}

void ScriptedSynchronizer::BeginFrame() {
  if (!queue_.empty()) {
    current_ = std::move(queue_.front());
    queue_.pop_front();
  } else {
    current_ = MakeFrame(default_, framesBegun_, frameWords_);
  }
  ++framesBegun_;
}

void ScriptedSynchronizer::SetFrameWords(int words) {
  std::lock_guard lock(mutex_);
  frameWords_ = words;
}

void ScriptedSynchronizer::Queue(FrameKind kind, int count) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < count; ++i) {
    queue_.push_back(
        MakeFrame(kind, framesBegun_ + static_cast<std::int64_t>(queue_.size()), frameWords_));
  }
}

void ScriptedSynchronizer::QueueFrame(std::vector<std::uint16_t> frame) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(frame));
}

void ScriptedSynchronizer::SetDefault(FrameKind kind) {
  std::lock_guard lock(mutex_);
  default_ = kind;
}

void ScriptedSynchronizer::FailReadsFrom(std::int64_t read) {
  std::lock_guard lock(mutex_);
  failFrom_ = read;
}

void ScriptedSynchronizer::ShortTransferOn(std::int64_t read, std::uint32_t bytes) {
  std::lock_guard lock(mutex_);
  shortRead_ = read;
  shortBytes_ = bytes;
}

void ScriptedSynchronizer::StopAfterReads(std::atomic<std::int32_t>& flag, std::int64_t reads) {
  std::lock_guard lock(mutex_);
  stopFlag_ = &flag;
  stopAfter_ = reads;
}

std::vector<std::uint32_t> ScriptedSynchronizer::Codes() const {
  std::lock_guard lock(mutex_);
  return codes_;
}

std::vector<std::vector<std::uint8_t>> ScriptedSynchronizer::Inputs() const {
  std::lock_guard lock(mutex_);
  return inputs_;
}

int ScriptedSynchronizer::Count(std::uint32_t code) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count(codes_.begin(), codes_.end(), code));
}

std::int64_t ScriptedSynchronizer::reads() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

std::int64_t ScriptedSynchronizer::framesCompleted() const {
  std::lock_guard lock(mutex_);
  return framesCompleted_;
}

std::int64_t ScriptedSynchronizer::framesBegun() const {
  std::lock_guard lock(mutex_);
  return framesBegun_;
}

bool ScriptedSynchronizer::midFrame() const {
  std::lock_guard lock(mutex_);
  return position_ != 0;
}

void ScriptedSynchronizer::ClearRecord() {
  std::lock_guard lock(mutex_);
  codes_.clear();
  inputs_.clear();
}

std::optional<double> FakeSystemInfo::FreeBytes(const std::filesystem::path&) {
  ++queries;
  return free();
}

std::vector<std::uint16_t> ReadWords(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::uint16_t> words(bytes.size() / 2);
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                          (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
  }
  return words;
}

}  // namespace halvik::testing
