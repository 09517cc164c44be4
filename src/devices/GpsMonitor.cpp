#include "devices/GpsMonitor.h"

namespace halvik {

void GpsMonitor::NoteLinkFailure() {
  state_.GpsLinkFailed = source_.LinkFailed() ? 1 : 0;
}

void GpsMonitor::ClearLinkFailure() {
  source_.ClearLinkFailure();
  NoteLinkFailure();
}

void GpsMonitor::GpsInitialise() {
  state_.GpsPresent = 0;
  state_.GpsPresent = source_.Detect() ? 1 : 0;
  NoteLinkFailure();
}

void GpsMonitor::GpsReadHealth() {
  state_.GpsHealth = static_cast<std::uint8_t>(GpsHealthCode::NoReply);
  if (std::optional<GpsHealthCode> health = source_.ReadHealth()) {
    state_.GpsHealth = static_cast<std::uint8_t>(*health);
  }
  NoteLinkFailure();
}

void GpsMonitor::GpsPollHealth() {
  GpsReadHealth();
  if (state_.GpsTimeValid.load() == 0)
    state_.GpsHealth = static_cast<std::uint8_t>(GpsHealthCode::NoTime);
  if (LinkFailed()) state_.GpsHealth = static_cast<std::uint8_t>(GpsHealthCode::LinkFailed);
}

void GpsMonitor::GpsReadTime() {
  state_.GpsTime = -1.0;
  const std::optional<double> time = source_.ReadTime();
  NoteLinkFailure();
  state_.GpsTimeValid = 0;
  if (time) {
    state_.GpsTime = *time;
    state_.GpsTimeValid = 1;
  }
}

void GpsMonitor::GpsReadPosition() {
  if (state_.GpsPresent.load() == 0) return;
  if (std::optional<GpsFix> fix = source_.ReadFix()) {
    state_.GpsAltitude = fix->altitudeFeet;
    state_.GpsLatitude = fix->isFix ? fix->latitudeDeg : kGpsNoFix;
    state_.GpsLongitude = fix->isFix ? fix->longitudeDeg : kGpsNoFix;
  }
  NoteLinkFailure();
  if (LinkFailed()) state_.GpsHealth = static_cast<std::uint8_t>(GpsHealthCode::LinkFailed);
  if (state_.GpsTimeValid.load() == 0)
    state_.GpsHealth = static_cast<std::uint8_t>(GpsHealthCode::NoTime);
}

}  // namespace halvik
