#include "linuxhw/StreamFrameSource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "capture/BitFrame.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

namespace halvik {

std::optional<FrameStreamAddress> ParseFrameStreamAddress(std::string_view text) {
  constexpr std::string_view kTcp = "tcp:";
  if (text.empty()) return std::nullopt;
  FrameStreamAddress address;
  address.text = std::string(text);
  if (text.starts_with(kTcp)) {
    address.tcp = ParseHostPort(text.substr(kTcp.size()));
    if (!address.tcp) return std::nullopt;
  } else {
    address.path = std::filesystem::path(text);
  }
  return address;
}

StreamFrameSource::StreamFrameSource(FrameStreamAddress address, Clock& clock, Messages& messages)
    : address_(std::move(address)),
      clock_(clock),
      messages_(messages),
      deframer_(kNoaaFrameWords, kStreamFlywheelFrames),
      frameWords_(kNoaaFrameWords),
      chunk_(kStreamChunkBytes),
      frame_(static_cast<std::size_t>(kFengYunFrameWords)) {}

void StreamFrameSource::Start(std::int32_t frameWords) {
  frameWords_ = std::clamp(frameWords, 1, kFengYunFrameWords);
  deframer_.Reset(frameWords_);
  started_ = true;
}

void StreamFrameSource::Stop() {
  started_ = false;
  deframer_.Reset(frameWords_);
}

bool StreamFrameSource::Open() {
  std::string error;
  if (address_.tcp) {
    fd_ = ConnectTcp(*address_.tcp, kStreamConnectWaitMs, error);
    kind_ = Kind::Stream;
  } else {
    // Non-blocking, so a FIFO opens before its writer does and a read never holds the caller.
    fd_.Reset(::open(address_.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd_.valid()) error = std::strerror(errno);
    struct stat info {};
    if (fd_.valid() && ::fstat(fd_.get(), &info) == 0 && S_ISREG(info.st_mode)) {
      kind_ = Kind::File;
      fileStartMs_ = clock_.MonotonicMs();
      fileBytes_ = 0;
    } else {
      kind_ = Kind::Stream;
    }
  }
  if (!fd_.valid()) {
    Drop(error);
    return false;
  }
  deframer_.Reset(frameWords_);
  return true;
}

void StreamFrameSource::Drop(const std::string& reason) {
  fd_.Reset();
  // The frame in progress came partly from the lost connection: it must not be completed by
  // the next one.
  deframer_.Reset(frameWords_);
  if (!inOutage_) {
    inOutage_ = true;
    ++outages_;
    messages_.Show("Frame stream " + address_.text + " lost (" + reason + "): retrying every " +
                   std::to_string(kStreamLongestRetryMs / 1000) + " s at most");
  }
  nextOpenMs_ = clock_.MonotonicMs() + retryDelayMs_;
  retryDelayMs_ = std::min(retryDelayMs_ * 2, kStreamLongestRetryMs);
}

std::size_t StreamFrameSource::FileAllowance() {
  const std::int64_t elapsedMs = clock_.MonotonicMs() - fileStartMs_;
  const std::int64_t bytesPerSecond = std::int64_t{frameWords_} * 2 * kStreamFramesPerSecond;
  const std::int64_t due = elapsedMs * bytesPerSecond / 1000 - fileBytes_;
  return static_cast<std::size_t>(std::clamp<std::int64_t>(due, 0, kStreamChunkBytes));
}

std::size_t StreamFrameSource::Read() {
  std::size_t want = chunk_.size();
  if (kind_ == Kind::File) {
    want = FileAllowance();
    if (want == 0) {
      clock_.SleepMs(kStreamReadWaitMs);
      want = FileAllowance();
      if (want == 0) return 0;
    }
  } else {
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, kStreamReadWaitMs) <= 0) return 0;
  }
  const ssize_t n = ::read(fd_.get(), chunk_.data(), want);
  if (n > 0) {
    fileBytes_ += n;
    if (inOutage_) {
      inOutage_ = false;
      retryDelayMs_ = kStreamFirstRetryMs;
    }
    return static_cast<std::size_t>(n);
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  if (n == 0 && kind_ == Kind::File) {
    ended_ = true;
    fd_.Reset();
    messages_.Show("Frame stream " + address_.text + " ended: no more frames from this file");
    return 0;
  }
  Drop(n == 0 ? "closed by the far end" : std::strerror(errno));
  return 0;
}

std::span<const std::uint16_t> StreamFrameSource::NextFrame() {
  if (ended_) {
    clock_.SleepMs(kStreamReadWaitMs);
    return {};
  }
  if (!fd_.valid()) {
    const std::int64_t waitMs = nextOpenMs_ - clock_.MonotonicMs();
    if (waitMs > 0) {
      clock_.SleepMs(std::min<std::int64_t>(waitMs, kStreamReadWaitMs));
      return {};
    }
    if (!Open()) return {};
  }
  frameReady_ = false;
  const auto keep = [this](std::span<const std::uint16_t> frame) {
    std::copy(frame.begin(), frame.end(), frame_.begin());
    frameReady_ = true;
  };
  for (int i = 0; i < kStreamChunksPerCall && !frameReady_ && fd_.valid(); ++i) {
    const std::size_t n = Read();
    if (n == 0) break;
    deframer_.Push(std::span<const std::uint8_t>(chunk_.data(), n), keep);
  }
  if (!frameReady_ || !started_) return {};
  return {frame_.data(), static_cast<std::size_t>(frameWords_)};
}

}  // namespace halvik
