#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capture/Deframer.h"
#include "linuxhw/StreamSocket.h"

namespace halvik {

class Clock;
class Messages;

// Where a demodulator's word stream comes from: "tcp:HOST:PORT" (the station connects as a
// client), or the path of a FIFO, a character device or a file.
struct FrameStreamAddress {
  std::optional<HostPort> tcp;  // set for "tcp:..."
  std::filesystem::path path;   // otherwise
  std::string text;             // as given, for messages
};
// Nothing when the text is empty or a "tcp:" address lacks its host or port.
std::optional<FrameStreamAddress> ParseFrameStreamAddress(std::string_view text);

// Reconnection: the first retry a second after a drop, each further one twice as late, never
// more than 30 s apart, so a demodulator restarted at any time is heard again within 30 s.
inline constexpr std::int64_t kStreamFirstRetryMs = 1000;
inline constexpr std::int64_t kStreamLongestRetryMs = 30000;
// The longest NextFrame waits for bytes before it hands back nothing.
inline constexpr int kStreamReadWaitMs = 100;
// How long a TCP connect may wait for the far end.
inline constexpr int kStreamConnectWaitMs = 2000;
// Bytes taken per read: less than the shortest frame (22180 bytes), so one read completes at most
// one frame and nothing has to queue.
inline constexpr std::size_t kStreamChunkBytes = 16384;
// Reads per NextFrame at most: enough for a whole FengYun frame with sync still to be found,
// few enough that a fast stream of anything but HRPT cannot hold the caller.
inline constexpr int kStreamChunksPerCall = 4;
// Frames the deframer hands over without sync before it hunts again: as many as the capture
// engine needs to declare the loss itself.
inline constexpr int kStreamFlywheelFrames = 30;
// Every family's downlink carries six minor frames a second; a file is replayed at that pace.
inline constexpr int kStreamFramesPerSecond = 6;

// A demodulator's stream of 16-bit little-endian words (one 10-bit HRPT word in the low bits of
// each), cut into minor frames by the Deframer. Capture thread only.
//
// A TCP stream or a FIFO that drops (the far end closes, the writer goes) is reopened with the
// back-off above, and the frame in progress is thrown away, so no frame handed over mixes two
// connections. A file is replayed at the downlink's pace on the station clock, from its start
// when the source is made; its end is the end of the data: the source says so once and hands
// over nothing more (an operator replaying a recorded pass expects it once, not in a loop).
// Each outage is shown once, when it begins; the retries are silent until bytes flow again.
class StreamFrameSource {
 public:
  StreamFrameSource(FrameStreamAddress address, Clock& clock, Messages& messages);

  // Frames of `frameWords` from here on; whatever was half-assembled is dropped and sync is
  // hunted afresh.
  void Start(std::int32_t frameWords);
  // Hands over nothing until the next Start; the stream goes on being read.
  void Stop();
  // The next whole frame, waiting for bytes at most kStreamReadWaitMs (or sleeping on the clock
  // until a retry or the file's pace is due); empty when none came. The words stay valid until
  // the next call.
  std::span<const std::uint16_t> NextFrame();

  // The deframer holds sync.
  bool locked() const { return deframer_.locked(); }
  // A file has been read to its end.
  bool ended() const { return ended_; }
  // Outages shown so far.
  int outages() const { return outages_; }

 private:
  enum class Kind { Stream, File };
  bool Open();
  void Drop(const std::string& reason);
  // Bytes read into chunk_ (0 when none came).
  std::size_t Read();
  std::size_t FileAllowance();

  FrameStreamAddress address_;
  Clock& clock_;
  Messages& messages_;
  Deframer deframer_;
  std::int32_t frameWords_;
  bool started_ = false;
  UniqueFd fd_;
  Kind kind_ = Kind::Stream;
  bool ended_ = false;
  bool inOutage_ = false;
  int outages_ = 0;
  std::int64_t retryDelayMs_ = kStreamFirstRetryMs;
  std::int64_t nextOpenMs_ = 0;
  // File pace: bytes read since the source was made and when that was.
  std::int64_t fileStartMs_ = 0;
  std::int64_t fileBytes_ = 0;
  std::vector<std::uint8_t> chunk_;
  std::vector<std::uint16_t> frame_;
  bool frameReady_ = false;
};

}  // namespace halvik
