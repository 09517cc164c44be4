#include "linuxhw/StreamFrameSource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "capture/BitFrame.h"
#include "devices/Downlink.h"
#include "linuxhw/FramePieces.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

namespace halvik {
namespace {

// Frames the deframer hands over without sync before it hunts again: as many as the capture
// engine needs to declare the loss itself.
constexpr int kFlywheelFrames = kLossThreshold;
// Every family's downlink carries six minor frames a second; a file is replayed at that pace.
constexpr int kFramesPerSecond = kNoaaHrpt.framesPerSecond;
static_assert(kFengYunHrpt.framesPerSecond == kFramesPerSecond &&
              kSeaStarHrpt.framesPerSecond == kFramesPerSecond);

}  // namespace

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
      reconnect_(clock),
      deframer_(kNoaaFrameWords, kFlywheelFrames),
      frameWords_(kNoaaFrameWords),
      chunk_(kStreamChunkBytes),
      frame_(static_cast<std::size_t>(kLongestFrameWords)) {}

bool StreamFrameSource::Open() {
  open_ = true;
  ended_ = false;
  Connect();
  return true;
}

bool StreamFrameSource::Close() {
  fd_.Reset();
  open_ = false;
  sync_.Lose();
  return true;
}

void StreamFrameSource::Start(SatelliteFamily family) {
  // Handing over starts at the next whole frame. The deframer keeps its lock and the frame it
  // is assembling, which begins on a boundary, unless the frames change length: a restart of the
  // capture engine costs no frame.
  frameLeft_ = 0;
  started_ = true;
  if (FamilyFrameLength(family) != frameWords_) {
    frameWords_ = FamilyFrameLength(family);
    deframer_.Reset(frameWords_);
  }
}

void StreamFrameSource::Stop() {
  started_ = false;
  frameLeft_ = 0;
}

bool StreamFrameSource::Connect() {
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
  sync_.Lose();
  reconnect_.Failed();
  if (!inOutage_) {
    inOutage_ = true;
    ++outages_;
    messages_.Show("Frame stream " + address_.text + (everRead_ ? " lost (" : " not available (") +
                   reason + "): retrying every " +
                   std::to_string(Reconnect::kLongestPauseMs / 1000) + " s at most");
  }
}

FrameSync StreamFrameSource::Sync() const {
  return sync_.Sync();
}

std::size_t StreamFrameSource::FileAllowance() {
  const std::int64_t elapsedMs = clock_.MonotonicMs() - fileStartMs_;
  const std::int64_t bytesPerSecond = std::int64_t{frameWords_} * 2 * kFramesPerSecond;
  const std::int64_t due = elapsedMs * bytesPerSecond / 1000 - fileBytes_;
  return static_cast<std::size_t>(std::clamp<std::int64_t>(due, 0, kStreamChunkBytes));
}

std::size_t StreamFrameSource::ReadChunk() {
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
    everRead_ = true;
    if (inOutage_) {
      inOutage_ = false;
      reconnect_.Succeeded();
    }
    return static_cast<std::size_t>(n);
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  if (n == 0 && kind_ == Kind::File) {
    ended_ = true;
    fd_.Reset();
    sync_.Lose();
    messages_.Show("Frame stream " + address_.text + " ended: no more frames from this file");
    return 0;
  }
  Drop(n == 0 ? "closed by the far end" : std::strerror(errno));
  return 0;
}

std::span<const std::uint16_t> StreamFrameSource::NextFrame() {
  frameReady_ = false;
  if (ended_ || !open_) {
    clock_.SleepMs(kStreamReadWaitMs);
    return {};
  }
  if (!fd_.valid() && (!reconnect_.Due() || !Connect())) {
    // Sleeps until the next poll of the retry, not past it by more than one wait.
    if (!reconnect_.Due()) clock_.SleepMs(kStreamReadWaitMs);
    return {};
  }
  const auto keep = [this](std::span<const std::uint16_t> frame) {
    std::copy(frame.begin(), frame.end(), frame_.begin());
    frameReady_ = true;
    sync_.Note(HasFrameSync(frame.data()), deframer_.locked(), clock_.MonotonicMs());
  };
  for (int i = 0; i < kStreamChunksPerCall && !frameReady_ && fd_.valid(); ++i) {
    const std::size_t n = ReadChunk();
    if (n == 0) break;
    deframer_.Push(std::span<const std::uint8_t>(chunk_.data(), n), keep);
  }
  if (!frameReady_) sync_.CheckSilence(clock_.MonotonicMs());
  if (!frameReady_ || !started_) return {};
  return {frame_.data(), static_cast<std::size_t>(frameWords_)};
}

FrameRead StreamFrameSource::Read(std::span<std::uint16_t, kSyncBlockWords> block,
                                  std::size_t& words) {
  words = 0;
  if (frameLeft_ == 0) {
    if (NextFrame().empty()) return FrameRead::NoData;
    frameLeft_ = static_cast<std::size_t>(frameWords_);
  }
  words = HandOverPiece({frame_.data(), static_cast<std::size_t>(frameWords_)}, frameLeft_, block);
  return FrameRead::Data;
}

}  // namespace halvik
