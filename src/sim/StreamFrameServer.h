#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"

namespace halvik {

// What the loopback frame server sends.
struct FrameServerOptions {
  std::string satelliteName = "NOAA 15";  // chooses the family and the identification word
  std::int64_t startUtcMs = 0;            // time code of frame 0, ms since 1970
  // Frames over which the synthetic scene runs through the pass (then it starts over).
  std::int64_t passFrames = 6 * 60 * 12;
  // Frames in all; the connection then closes and no more are sent. -1: no end.
  std::int64_t totalFrames = -1;
  // A connection is dropped after this many of its frames and half of the next one; the next
  // connection starts with that frame whole. -1: never.
  std::int64_t dropAfterFrames = -1;
  // Noise bytes that open each connection, before the first frame: an odd count puts the words
  // a byte out of step, as a demodulator joined mid-word does.
  int leadingNoiseBytes = 0;
  // Six frames a second times this, as the downlink brings them; 0: as fast as the reader takes.
  double speed = 0;
};

// Frame `n` of the stream: the simulated synchronizer's clean minor frame for it, 10-bit words
// (the frame's length is the family's).
std::vector<std::uint16_t> ServedFrame(const FrameServerOptions& options, std::int64_t n);

// Words as the stream carries them: 16 bits each, little-endian.
std::vector<std::uint8_t> StreamBytes(std::span<const std::uint16_t> words);

// A demodulator stand-in on 127.0.0.1: accepts one client at a time and sends it the words of a
// pass as 16-bit little-endian words, then waits for the next client. Runs on its own thread
// from Listen until it is destroyed.
class StreamFrameServer {
 public:
  explicit StreamFrameServer(FrameServerOptions options);
  ~StreamFrameServer();
  StreamFrameServer(const StreamFrameServer&) = delete;
  StreamFrameServer& operator=(const StreamFrameServer&) = delete;

  // Binds `port` on 127.0.0.1 (0: a free one) and starts serving; false with `error` when the
  // port cannot be had.
  bool Listen(std::uint16_t port, std::string& error);
  std::uint16_t port() const { return port_; }

  std::int64_t framesSent() const { return framesSent_.load(); }
  int connections() const { return connections_.load(); }

 private:
  void Serve();

  FrameServerOptions options_;
  UniqueFd listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> framesSent_{0};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

}  // namespace halvik
