#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "devices/Downlink.h"
#include "orbit/StationConfig.h"
#include "platform/Socket.h"
#include "sim/Sky.h"

namespace halvik::sim {

// The link quality of the served pass: Eb/N0 of 8 dB at the horizon rising with the sine of the
// elevation to 16 dB overhead (a pass is weak low, strong high, never lost above the horizon).
double PassEbN0Db(double elevationDeg);

// What the loopback IQ server sends.
struct IqServerOptions {
  TrueSatellite satellite;       // its frames, its downlink carrier and its orbit
  StationConfig station;         // where the Doppler and the elevation are seen from
  double startUtcSeconds = 0;    // the instant of the first sample (frame 0)
  double sampleRate = 3.0e6;     // until the client asks for another
  std::optional<double> ebn0Db;  // fixed; nothing: PassEbN0Db of the elevation
  // The pass's time runs at this many times real time from Listen, which stands for the instant
  // `clockStartUtcSeconds` (a station's simulated clock, started alongside): each frame sent is
  // the one of the simulated instant, and frames the client is too slow for are skipped. 0: every
  // frame, as fast as the client reads.
  double speed = 0;
  double clockStartUtcSeconds = 0;
  // The QPSK families' CADU n of the pass, as a .cadu file holds it (the server codes it);
  // nothing: PatternedCadu.
  std::function<void(std::int64_t n, std::span<std::uint8_t, kCaduBytes> cadu)> codedCadus;
};

// An rtl_tcp server on 127.0.0.1 for the demo and tests: greets as an R820T tuner, honours the
// frequency and sample-rate commands, and streams cu8 samples of the satellite's simulated HRPT
// frames, split-phase PM modulated, with the pass's own Doppler and an Eb/N0 that follows its
// elevation. The carrier lies at downlink + Doppler - the tuned frequency, so a tuning error
// shows. One client at a time; a new connection carries on with the next frame.
class IqServer {
 public:
  explicit IqServer(IqServerOptions options);
  ~IqServer();
  IqServer(const IqServer&) = delete;
  IqServer& operator=(const IqServer&) = delete;

  // Binds `port` on 127.0.0.1 (0: a free one) and starts serving; false with `error` when the
  // port cannot be had.
  bool Listen(std::uint16_t port, std::string& error);
  std::uint16_t port() const { return port_; }

  std::int64_t framesSent() const { return framesSent_.load(); }
  int connections() const { return connections_.load(); }
  // What the client last asked for (the downlink and the starting rate until it asks).
  double tunedHz() const { return tunedHz_.load(); }
  double sampleRate() const { return sampleRate_.load(); }

 private:
  void Serve();
  // One client until it goes or the server stops.
  void ServeClient(int fd);
  // The client's commands that have come; false when it has gone.
  bool ReadCommands(int fd, std::vector<std::uint8_t>& pending);

  IqServerOptions options_;
  UniqueFd listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> framesSent_{0};
  std::atomic<int> connections_{0};
  std::atomic<double> tunedHz_{0};
  std::atomic<double> sampleRate_{0};
  std::int64_t next_ = 0;  // the next frame to send; the serving thread's own
  std::chrono::steady_clock::time_point began_;
  std::thread thread_;
};

}  // namespace halvik::sim
