#include "linuxhw/GpsdTimeSource.h"

#include <gps.h>

#include <cmath>

#include "devices/GpsState.h"
#include "platform/Units.h"

namespace halvik {

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
    : address_(std::move(address)), reconnect_(clock) {}

GpsdTimeSource::~GpsdTimeSource() {
  Disconnect();
}

void GpsdTimeSource::Connect() {
  if (!reconnect_.Due()) return;
  // libgps connects blocking; a host that is down would hold the tracking thread for the
  // system's whole connect time-out, so a bounded probe asks first.
  std::string error;
  const bool answers = ConnectTcp(*address_, kGpsdConnectWaitMs, error).valid();
  auto session = std::make_unique<Session>();
  if (answers && gps_open(address_->host.c_str(), address_->port.c_str(), &session->data) == 0) {
    if (gps_stream(&session->data, WATCH_ENABLE | WATCH_JSON, nullptr) == 0) {
      session_ = std::move(session);
      ++connections_;
      reconnect_.Succeeded();
      return;
    }
    gps_close(&session->data);
  }
  reconnect_.Failed();
}

void GpsdTimeSource::Disconnect() {
  if (!session_) return;
  gps_close(&session_->data);
  session_.reset();
  mode_ = MODE_NOT_SEEN;
  reportTime_ = -1.0;
  havePosition_ = haveFix_ = false;
}

void GpsdTimeSource::Poll() {
  if (!session_) Connect();
  for (int i = 0; session_ && i < kGpsdReportsPerPoll && gps_waiting(&session_->data, 0); ++i) {
    if (gps_read(&session_->data, nullptr, 0) < 0) {
      Disconnect();
      reconnect_.Failed();
      return;
    }
    Take();
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
  return reportTime_ > 0 && std::isfinite(reportTime_) &&
         std::chrono::steady_clock::now() - reportReadAt_ <=
             std::chrono::milliseconds(kGpsdStaleMs);
}

bool GpsdTimeSource::Detect() {
  if (!address_) return false;
  Poll();
  return session_ != nullptr;
}

std::optional<GpsHealthCode> GpsdTimeSource::ReadHealth() {
  if (!Exchange()) return std::nullopt;
  if (!TimeFresh()) return GpsHealthCode::NoTime;
  if (mode_ == MODE_3D && haveFix_) return GpsHealthCode::Fixing;
  if (mode_ == MODE_2D) return GpsHealthCode::ThreeSatellites;
  switch (satellitesUsed_) {
    case 0:
      return GpsHealthCode::NoSatellites;
    case 1:
      return GpsHealthCode::OneSatellite;
    case 2:
      return GpsHealthCode::TwoSatellites;
    case 3:
      return GpsHealthCode::ThreeSatellites;
    default:
      // Enough satellites for a fix and still none: their geometry is too poor.
      return GpsHealthCode::BadPdop;
  }
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
