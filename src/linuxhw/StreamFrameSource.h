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
#include "devices/FrameSource.h"
#include "linuxhw/FrameSyncTally.h"
#include "linuxhw/Reconnect.h"
#include "linuxhw/StreamSocket.h"

namespace halvik {

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

// A demodulator's stream of 16-bit little-endian words (one 10-bit HRPT word in the low bits of
// each), cut into minor frames by the Deframer and handed to the capture thread whole, block by
// block. Capture thread only, except Sync().
//
// A TCP stream or a FIFO that drops (the far end closes, the writer goes) is reopened at the
// pace of Reconnect (1 s, doubling to 30 s), and the frame in progress is thrown away, so no
// frame handed over mixes two connections. One that is absent when the capture thread opens the
// source is retried the same way: the capture thread runs on and records once words come. A
// file is replayed at the downlink's pace on the station clock from the moment it is opened; its
// end is the end of the data: the source says so once and hands over nothing more (an operator
// replaying a recorded pass expects it once, not in a loop). Each outage is shown once, when it
// begins; the retries are silent until bytes flow again.
class StreamFrameSource final : public FrameSource {
 public:
  StreamFrameSource(FrameStreamAddress address, Clock& clock, Messages& messages);

  // Makes the first attempt; true whatever it brought, since an absent stream is retried.
  bool Open() override;
  bool Close() override;
  bool IsOpen() const override { return open_; }
  void Configure() override {}
  // Hands over nothing until the next Start; the stream goes on being read.
  void Stop() override;
  // Frames of the family from the next whole one on; the rest of a frame half handed over is
  // dropped. Sync is hunted afresh only when the frame length changes.
  void Start(SatelliteFamily family) override;
  // The next piece of the frame being handed over, or of the next frame to come (waiting as
  // NextFrame does). A file at its end gives NoData: nothing fails for good.
  FrameRead Read(std::span<std::uint16_t, kSyncBlockWords> block, std::size_t& words) override;
  FrameSync Sync() const override;

  // The next whole frame, waiting for bytes at most kStreamReadWaitMs (or sleeping on the clock
  // until a retry or the file's pace is due); empty when none came. The words stay valid until
  // the next call.
  std::span<const std::uint16_t> NextFrame();

  // A file has been read to its end.
  bool ended() const { return ended_; }
  // Outages shown so far.
  int outages() const { return outages_; }

 private:
  enum class Kind { Stream, File };
  bool Connect();
  void Drop(const std::string& reason);
  // Bytes read into chunk_ (0 when none came).
  std::size_t ReadChunk();
  std::size_t FileAllowance();

  FrameStreamAddress address_;
  Clock& clock_;
  Messages& messages_;
  Reconnect reconnect_;
  Deframer deframer_;
  std::int32_t frameWords_;
  bool open_ = false;
  bool started_ = false;
  UniqueFd fd_;
  Kind kind_ = Kind::Stream;
  bool ended_ = false;
  bool inOutage_ = false;
  bool everRead_ = false;  // an outage before any bytes came is an absence, not a loss
  int outages_ = 0;
  // File pace: bytes read since the file was opened and when that was.
  std::int64_t fileStartMs_ = 0;
  std::int64_t fileBytes_ = 0;
  std::vector<std::uint8_t> chunk_;
  // The last whole frame, and how much of it Read has handed over.
  std::vector<std::uint16_t> frame_;
  bool frameReady_ = false;
  std::size_t frameLeft_ = 0;
  FrameSyncTally sync_;
};

}  // namespace halvik
