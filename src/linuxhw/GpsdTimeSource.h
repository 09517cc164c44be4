#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "devices/GpsHealth.h"
#include "devices/TimeSource.h"
#include "linuxhw/Reconnect.h"
#include "linuxhw/StreamSocket.h"

namespace halvik {

// gpsd's own port.
inline constexpr std::string_view kDefaultGpsd = "localhost:2947";
inline constexpr std::string_view kNoGpsd = "none";

// `--gpsd` as given: "HOST:PORT", "HOST" (port 2947), or "none" (an empty result inside an
// engaged optional). Nothing at all when the text is malformed.
std::optional<std::optional<HostPort>> ParseGpsdOption(std::string_view text);

// The longest a connection attempt (name look-up and connect) holds the tracking thread.
inline constexpr int kGpsdConnectWaitMs = 250;
// Bytes read per exchange at most; gpsd sends a few reports a second, so this drains any
// backlog, and a gpsd that floods cannot hold the tracking thread either.
inline constexpr std::size_t kGpsdBytesPerPoll = 64 * 1024;
// A report line longer than this is no report of gpsd's (its longest are a few kB).
inline constexpr std::size_t kGpsdLongestLine = 16 * 1024;
inline constexpr std::int64_t kGpsdStaleMs = kGpsReportStaleMs;

// The GPS through gpsd: the station's own bounded connection, gpsd's JSON reports parsed by
// libgps. Tracking thread only; a connection attempt waits at most kGpsdConnectWaitMs, and reads
// and writes never wait (a gpsd that accepts and never answers only leaves the time stale). Each
// exchange reads what gpsd has sent since the last one (its reports stream in; nothing is
// requested). gpsd that is absent or goes away is a failed link; once the caller clears it, gpsd
// is tried again at the pace of Reconnect on `clock`. Health follows GpsHealthFromReport; heights
// are taken above the ellipsoid, as the receiver behind the board reports them.
class GpsdTimeSource final : public TimeSource {
 public:
  // `address` empty: no GPS ("--gpsd none"); Detect finds none.
  GpsdTimeSource(std::optional<HostPort> address, Clock& clock);
  ~GpsdTimeSource() override;
  GpsdTimeSource(const GpsdTimeSource&) = delete;
  GpsdTimeSource& operator=(const GpsdTimeSource&) = delete;

  // True when gpsd answers.
  bool Detect() override;
  std::optional<GpsHealthCode> ReadHealth() override;
  std::optional<double> ReadTime() override;
  // Nothing until gpsd has reported a mode; then the last fix, `isFix` false when it is none.
  std::optional<GpsFix> ReadFix() override;
  bool LinkFailed() const override { return linkFailed_; }
  void ClearLinkFailure() override { linkFailed_ = false; }

  // Connections made since start (a reconnect after a drop counts again).
  int connections() const { return connections_; }

 private:
  struct Session;
  // Reads what gpsd has sent, connecting first when due; false (the link failed) without gpsd.
  bool Exchange();
  void Poll();
  void Connect();
  void Disconnect();
  // Reads what has arrived without waiting; false when gpsd closed or broke the connection.
  bool Receive();
  void Take();
  bool TimeFresh() const;

  std::optional<HostPort> address_;
  Reconnect reconnect_;
  std::unique_ptr<Session> session_;
  bool linkFailed_ = false;
  int connections_ = 0;
  // The last report: its mode and time, when it was read, and the last position.
  int mode_ = 0;
  double reportTime_ = -1.0;
  std::chrono::steady_clock::time_point reportReadAt_{};
  bool havePosition_ = false;
  bool haveFix_ = false;
  GpsFix fix_{};
  int satellitesUsed_ = 0;
};

}  // namespace halvik
