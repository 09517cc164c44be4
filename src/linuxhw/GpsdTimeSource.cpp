#include "linuxhw/GpsdTimeSource.h"

#include <gps.h>

#include <algorithm>
#include <cmath>

#include "devices/GpsState.h"
#include "platform/Clock.h"

namespace halvik {
namespace {

constexpr double kFeetPerMetre = 3.280833;

}  // namespace

std::optional<std::optional<HostPort>> ParseGpsdOption(std::string_view text) {
  if (text == kNoGpsd) return std::optional<HostPort>{};
  auto address = ParseHostPort(text, DEFAULT_GPSD_PORT);
  if (!address) return std::nullopt;
  return address;
}

struct GpsdTimeSource::Session {
  gps_data_t data{};
};

GpsdTimeSource::GpsdTimeSource(std::optional<HostPort> address, Clock& clock)
    : address_(std::move(address)), clock_(clock) {}

GpsdTimeSource::~GpsdTimeSource() {
  Disconnect();
}

void GpsdTimeSource::Connect() {
  const std::int64_t now = clock_.MonotonicMs();
  if (now < nextConnectMs_) return;
  // libgps connects blocking; a host that is down would hold the tracking thread for the
  // system's whole connect time-out, so a bounded probe asks first.
  std::string error;
  const bool answers = ConnectTcp(*address_, kGpsdConnectWaitMs, error).valid();
  auto session = std::make_unique<Session>();
  if (answers && gps_open(address_->host.c_str(), address_->port.c_str(), &session->data) == 0) {
    if (gps_stream(&session->data, WATCH_ENABLE | WATCH_JSON, nullptr) == 0) {
      session_ = std::move(session);
      ++connections_;
      retryDelayMs_ = kGpsdFirstRetryMs;
      return;
    }
    gps_close(&session->data);
  }
  nextConnectMs_ = now + retryDelayMs_;
  retryDelayMs_ = std::min(retryDelayMs_ * 2, kGpsdLongestRetryMs);
}

void GpsdTimeSource::Disconnect() {
  if (!session_) return;
  gps_close(&session_->data);
  session_.reset();
  mode_ = MODE_NOT_SEEN;
  haveFix_ = false;
  reportTime_ = -1.0;
}

void GpsdTimeSource::Poll() {
  if (!address_) return;
  if (!session_) Connect();
  for (int i = 0; session_ && i < kGpsdReportsPerPoll && gps_waiting(&session_->data, 0); ++i) {
    if (gps_read(&session_->data, nullptr, 0) < 0) {
      // gpsd went away: retry from the first delay.
      Disconnect();
      nextConnectMs_ = clock_.MonotonicMs() + retryDelayMs_;
      retryDelayMs_ = std::min(retryDelayMs_ * 2, kGpsdLongestRetryMs);
      return;
    }
    Take();
  }
}

void GpsdTimeSource::Take() {
  const gps_data_t& data = session_->data;
  if (data.set & SATELLITE_SET) satellitesUsed_ = data.satellites_used;
  if (!(data.set & MODE_SET)) return;
  // One position-velocity-time report: a mode, and the time and place when the mode has them.
  mode_ = data.fix.mode;
  if ((data.set & TIME_SET) && mode_ >= MODE_NO_FIX) {
    reportTime_ = static_cast<double>(data.fix.time.tv_sec) + data.fix.time.tv_nsec * 1e-9;
    reportReadMs_ = clock_.MonotonicMs();
  }
  haveFix_ = false;
  if (mode_ == MODE_3D && (data.set & LATLON_SET) && (data.set & ALTITUDE_SET)) {
    latitudeDeg_ = data.fix.latitude;
    longitudeDeg_ = data.fix.longitude;
    altitudeFeet_ = data.fix.altMSL * kFeetPerMetre;
    haveFix_ = GpsFixOnGlobe(latitudeDeg_, longitudeDeg_, altitudeFeet_);
  }
}

GpsdReading GpsdTimeSource::Reading() {
  GpsdReading reading;
  reading.connected = session_ != nullptr;
  if (!reading.connected) return reading;
  const std::int64_t ageMs = clock_.MonotonicMs() - reportReadMs_;
  reading.timeValid = reportTime_ > 0 && std::isfinite(reportTime_) && ageMs <= kGpsdStaleMs;
  if (reading.timeValid) reading.time = reportTime_ + ageMs * 0.001;
  reading.fixValid = reading.timeValid && haveFix_;
  if (reading.fixValid) {
    reading.latitudeDeg = latitudeDeg_;
    reading.longitudeDeg = longitudeDeg_;
    reading.altitudeFeet = altitudeFeet_;
  }
  reading.satellitesUsed = satellitesUsed_;
  return reading;
}

}  // namespace halvik
