#include "linuxhw/HamlibRotator.h"

#include <hamlib/rotator.h>

#include <cmath>
#include <optional>

#include "linuxhw/HamlibText.h"
#include "platform/Messages.h"
#include "platform/Text.h"

namespace halvik {

HamlibRotator::HamlibRotator(int model, std::string port, Clock& clock, Messages& messages)
    : model_(model), port_(std::move(port)), messages_(messages), reconnect_(clock) {
  QuietHamlib();
}

HamlibRotator::~HamlibRotator() {
  Close();
}

bool HamlibRotator::Open() {
  Close();
  {
    std::lock_guard lock(HamlibLock());
    rot_ = rot_init(model_);
  }
  if (!rot_) {
    Lost(HamlibErrorText(-RIG_ENIMPL), "cannot be opened");
    return false;
  }
  std::string error;
  const std::optional<HamlibSettings> settings = HamlibPortSettings(
      rot_->caps->port_type == RIG_PORT_NETWORK, port_, "rot_pathname", "4533", error);
  if (!settings) {
    Lost(error, "cannot be opened");
    return false;
  }
  int status = RIG_OK;
  for (const auto& [token, value] : *settings) {
    if (status == RIG_OK) status = rot_set_conf(rot_, rot_token_lookup(rot_, token), value.c_str());
  }
  if (status == RIG_OK) status = rot_open(rot_);
  if (status != RIG_OK) {
    Lost(HamlibErrorText(status), "cannot be opened");
    return false;
  }
  open_ = true;
  reconnect_.Succeeded();
  messageShown_ = false;
  const rot_state& state = rot_->state;
  range_ = {{state.min_az, state.max_az}, {state.min_el, state.max_el}};
  return true;
}

void HamlibRotator::Close() {
  if (!rot_) return;
  if (open_) rot_close(rot_);
  {
    std::lock_guard lock(HamlibLock());
    rot_cleanup(rot_);
  }
  rot_ = nullptr;
  open_ = false;
  follow_ = {};
}

bool HamlibRotator::Ready() {
  if (open_) return true;
  if (!reconnect_.Due()) return false;
  return Open();
}

void HamlibRotator::Lost(const std::string& why, const char* what) {
  Close();
  reconnect_.Failed();
  if (messageShown_) return;
  messageShown_ = true;
  messages_.Show(Format("Rotator (Hamlib model %d, %s) %s: %s; the station retries it", model_,
                        port_.c_str(), what, why.c_str()));
}

void HamlibRotator::Stop() {
  if (!Ready()) return;
  if (int status = rot_stop(rot_); status != RIG_OK && status != -RIG_ENAVAIL) {
    Lost(HamlibErrorText(status), "stopped answering");
  }
}

void HamlibRotator::Point(double azimuthDeg, double elevationDeg, PointMove move) {
  if (!Ready()) return;
  if (!std::isfinite(azimuthDeg) || !std::isfinite(elevationDeg)) return;
  const RotatorTarget target = RotatorWrap(azimuthDeg, elevationDeg, range_);
  if (!RotatorShouldSend(follow_, target, move)) return;
  const int status = rot_set_position(rot_, static_cast<azimuth_t>(target.azimuth),
                                      static_cast<elevation_t>(target.elevation));
  if (status != RIG_OK) {
    Lost(HamlibErrorText(status), "stopped answering");
    return;
  }
  RotatorSent(follow_, target, move);
}

PositionReading HamlibRotator::ReadPosition() {
  PositionReading reading;
  if (!Ready()) return reading;
  azimuth_t azimuth = 0;
  elevation_t elevation = 0;
  const int status = rot_get_position(rot_, &azimuth, &elevation);
  if (status != RIG_OK) {
    Lost(HamlibErrorText(status), "stopped answering");
    return reading;
  }
  reading.power = kPositionerPowered;
  reading.azimuth = azimuth;
  reading.elevation = elevation;
  RotatorReadBack(follow_, {azimuth, elevation});
  return reading;
}

}  // namespace halvik
