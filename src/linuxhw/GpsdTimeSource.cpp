#include "linuxhw/GpsdTimeSource.h"

#include <gps.h>
#include <sys/socket.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "devices/GpsState.h"
#include "platform/Units.h"

namespace halvik {

std::optional<std::optional<HostPort>> ParseGpsdOption(std::string_view text) {
  if (text == kNoGpsd) return std::optional<HostPort>{};
  auto address = ParseHostPort(text, DEFAULT_GPSD_PORT);
  if (!address) return std::nullopt;
  return address;
}

namespace {

// What gpsd is asked for once connected: its reports in JSON, as they come.
constexpr std::string_view kWatch = "?WATCH={\"enable\":true,\"json\":true};\n";

}  // namespace

struct GpsdTimeSource::Session {
  UniqueFd fd;
  std::string input;  // received, not yet a whole line
  gps_data_t data{};
};

GpsdTimeSource::GpsdTimeSource(std::optional<HostPort> address, Clock& clock)
    : address_(std::move(address)), reconnect_(clock) {}

GpsdTimeSource::~GpsdTimeSource() {
  Disconnect();
}

void GpsdTimeSource::Connect() {
  if (!reconnect_.Due()) return;
  std::string error;
  auto session = std::make_unique<Session>();
  session->fd = ConnectTcp(*address_, kGpsdConnectWaitMs, error);
  // The request fits any socket buffer of a new connection: it goes out whole or not at all.
  if (session->fd.valid() && ::send(session->fd.get(), kWatch.data(), kWatch.size(),
                                    MSG_NOSIGNAL) == static_cast<ssize_t>(kWatch.size())) {
    gps_clear_fix(&session->data.fix);
    session_ = std::move(session);
    ++connections_;
    reconnect_.Succeeded();
    return;
  }
  reconnect_.Failed();
}

void GpsdTimeSource::Disconnect() {
  if (!session_) return;
  session_.reset();
  mode_ = MODE_NOT_SEEN;
  reportTime_ = -1.0;
  havePosition_ = haveFix_ = false;
}

bool GpsdTimeSource::Receive() {
  char buffer[4096];
  std::size_t taken = 0;
  while (taken < kGpsdBytesPerPoll) {
    const ssize_t n = ::recv(session_->fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    taken += static_cast<std::size_t>(n);
    std::string& input = session_->input;
    input.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = input.find('\n', start)) != std::string::npos; start = end + 1) {
      input[end] = '\0';
      session_->data.set = 0;
      if (gps_unpack(input.data() + start, &session_->data) == 0) Take();
    }
    input.erase(0, start);
    if (input.size() > kGpsdLongestLine) return false;
  }
  return true;
}

void GpsdTimeSource::Poll() {
  if (!session_) Connect();
  if (session_ && !Receive()) {
    Disconnect();
    reconnect_.Failed();
  }
}

bool GpsdTimeSource::Exchange() {
  if (!address_ || linkFailed_) return false;
  Poll();
  if (!session_) linkFailed_ = true;
  return !linkFailed_;
}

void GpsdTimeSource::Take() {
  const gps_data_t& data = session_->data;
  if (data.set & SATELLITE_SET) satellitesUsed_ = data.satellites_used;
  if (!(data.set & MODE_SET)) return;
  // One position-velocity-time report: a mode, and the time and place when the mode has them.
  mode_ = data.fix.mode;
  if ((data.set & TIME_SET) && mode_ >= MODE_NO_FIX) {
    reportTime_ = static_cast<double>(data.fix.time.tv_sec) + data.fix.time.tv_nsec * 1e-9;
    reportReadAt_ = std::chrono::steady_clock::now();
  }
  haveFix_ = false;
  if (mode_ == MODE_3D && (data.set & LATLON_SET) && (data.set & ALTITUDE_SET)) {
    fix_.latitudeDeg = data.fix.latitude;
    fix_.longitudeDeg = data.fix.longitude;
    fix_.altitudeFeet = data.fix.altHAE * kFeetPerMetre;
    havePosition_ = true;
    haveFix_ = GpsFixOnGlobe(fix_.latitudeDeg, fix_.longitudeDeg, fix_.altitudeFeet);
  }
}

bool GpsdTimeSource::TimeFresh() const {
  const auto ms = [](std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  };
  return reportTime_ > 0 && std::isfinite(reportTime_) &&
         GpsReportFresh(ms(reportReadAt_), ms(std::chrono::steady_clock::now()));
}

bool GpsdTimeSource::Detect() {
  if (!address_) return false;
  Poll();
  return session_ != nullptr;
}

std::optional<GpsHealthCode> GpsdTimeSource::ReadHealth() {
  if (!Exchange()) return std::nullopt;
  GpsReport report;
  report.mode = mode_ == MODE_3D       ? GpsFixMode::ThreeD
                : mode_ == MODE_2D     ? GpsFixMode::TwoD
                : mode_ >= MODE_NO_FIX ? GpsFixMode::NoFix
                                       : GpsFixMode::NotSeen;
  report.timeFresh = TimeFresh();
  report.fixOnGlobe = haveFix_;
  report.satellitesUsed = satellitesUsed_;
  return GpsHealthFromReport(report);
}

std::optional<double> GpsdTimeSource::ReadTime() {
  if (!Exchange() || !TimeFresh()) return std::nullopt;
  // The report's time moved on by its age: the time now, as the board's receiver answers.
  const auto age = std::chrono::steady_clock::now() - reportReadAt_;
  return reportTime_ + std::chrono::duration<double>(age).count();
}

std::optional<GpsFix> GpsdTimeSource::ReadFix() {
  if (!Exchange() || mode_ == MODE_NOT_SEEN) return std::nullopt;
  GpsFix fix = fix_;
  fix.isFix = haveFix_ && TimeFresh();
  if (!havePosition_) fix.altitudeFeet = 0;
  return fix;
}

}  // namespace halvik
