#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "linuxhw/StreamSocket.h"

namespace halvik {

class Clock;

// gpsd's own port.
inline constexpr std::string_view kDefaultGpsd = "localhost:2947";
inline constexpr std::string_view kNoGpsd = "none";

// `--gpsd` as given: "HOST:PORT", "HOST" (port 2947), or "none" (an empty result inside an
// engaged optional). Nothing at all when the text is malformed.
std::optional<std::optional<HostPort>> ParseGpsdOption(std::string_view text);

// Reconnection to gpsd: the first retry 1 s after a drop, each further one twice as late, never
// more than 30 s apart.
inline constexpr std::int64_t kGpsdFirstRetryMs = 1000;
inline constexpr std::int64_t kGpsdLongestRetryMs = 30000;
// The longest a connection attempt holds the tracking thread.
inline constexpr int kGpsdConnectWaitMs = 250;
// Reports read per Poll at most; gpsd sends a few a second, so this drains any backlog.
inline constexpr int kGpsdReportsPerPoll = 64;
// A time report older than this (ms on the computer's clock) is not the present time any more:
// gpsd has gone quiet or lost the receiver.
inline constexpr std::int64_t kGpsdStaleMs = 5000;

// What gpsd last said.
struct GpsdReading {
  bool connected = false;   // a gpsd answers now
  bool timeValid = false;   // a fresh report carries the time
  double time = -1.0;       // s since 1970 UTC, now (the report's time moved on by its age)
  bool fixValid = false;    // a 3-D fix on the globe at a height a station can have
  double latitudeDeg = 0;   // north positive
  double longitudeDeg = 0;  // east positive
  double altitudeFeet = 0;  // above mean sea level
  int satellitesUsed = 0;
};

// Time, position and fix from gpsd through libgps. Tracking thread only; no call waits for gpsd
// longer than kGpsdConnectWaitMs. Ages and retries run on `clock`, which should be the
// computer's own: gpsd reports in real time whatever the station clock's speed.
class GpsdTimeSource {
 public:
  // `address` empty: no GPS ("--gpsd none"); every reading says not connected.
  GpsdTimeSource(std::optional<HostPort> address, Clock& clock);
  ~GpsdTimeSource();
  GpsdTimeSource(const GpsdTimeSource&) = delete;
  GpsdTimeSource& operator=(const GpsdTimeSource&) = delete;

  // Reads what gpsd has sent since the last call, connecting first when a retry is due.
  void Poll();
  // The state after the last Poll.
  GpsdReading Reading();
  // Connections made since start (a reconnect after a drop counts again).
  int connections() const { return connections_; }

 private:
  struct Session;
  void Connect();
  void Disconnect();
  void Take();

  std::optional<HostPort> address_;
  Clock& clock_;
  std::unique_ptr<Session> session_;
  int connections_ = 0;
  std::int64_t retryDelayMs_ = kGpsdFirstRetryMs;
  std::int64_t nextConnectMs_ = 0;
  // Last report's time and when it was read (clock ms); last fix.
  double reportTime_ = -1.0;
  std::int64_t reportReadMs_ = 0;
  bool haveFix_ = false;
  double latitudeDeg_ = 0, longitudeDeg_ = 0, altitudeFeet_ = 0;
  int mode_ = 0;
  int satellitesUsed_ = 0;
};

}  // namespace halvik
