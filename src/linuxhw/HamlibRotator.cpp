#include "linuxhw/HamlibRotator.h"

#include <hamlib/rotator.h>

#include <cmath>

#include "linuxhw/HamlibText.h"
#include "platform/Messages.h"
#include "platform/Text.h"

namespace halvik {
namespace {

constexpr double kTurnDeg = 360.0;
constexpr double kMinimumStepDeg = 0.1;

}  // namespace

HamlibRotator::HamlibRotator(int model, std::string port, Clock& clock, Messages& messages)
    : model_(model), port_(std::move(port)), messages_(messages), reconnect_(clock) {
  QuietHamlib();
}

HamlibRotator::~HamlibRotator() {
  Close();
}

bool HamlibRotator::Open() {
  std::lock_guard lock(HamlibLock());
  Close();
  rot_ = rot_init(model_);
  int status = rot_ ? RIG_OK : -RIG_ENIMPL;
  if (rot_ && !port_.empty()) {
    status = rot_set_conf(rot_, rot_token_lookup(rot_, "rot_pathname"), port_.c_str());
  }
  if (status == RIG_OK) status = rot_open(rot_);
  if (status != RIG_OK) {
    Lost(status, "cannot be opened");
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
  std::lock_guard lock(HamlibLock());
  if (!rot_) return;
  if (open_) rot_close(rot_);
  rot_cleanup(rot_);
  rot_ = nullptr;
  open_ = false;
  haveTarget_ = false;
}

bool HamlibRotator::Ready() {
  if (open_) return true;
  if (!reconnect_.Due()) return false;
  return Open();
}

void HamlibRotator::Lost(int status, const char* what) {
  Close();
  reconnect_.Failed();
  if (messageShown_) return;
  messageShown_ = true;
  messages_.Show(Format("Rotator (Hamlib model %d, %s) %s: %s; the station retries it", model_,
                        port_.c_str(), what, HamlibErrorText(status).c_str()));
}

void HamlibRotator::Stop() {
  std::lock_guard lock(HamlibLock());
  if (!Ready()) return;
  if (int status = rot_stop(rot_); status != RIG_OK && status != -RIG_ENAVAIL) {
    Lost(status, "stopped answering");
  }
}

void HamlibRotator::Point(double azimuthDeg, double elevationDeg, PointMove move) {
  std::lock_guard lock(HamlibLock());
  if (!Ready()) return;
  if (!std::isfinite(azimuthDeg) || !std::isfinite(elevationDeg)) return;
  const PositionerRange range = range_;
  double azimuth = azimuthDeg;
  while (azimuth > range.azimuth.maximum && azimuth - kTurnDeg >= range.azimuth.minimum) {
    azimuth -= kTurnDeg;
  }
  while (azimuth < range.azimuth.minimum && azimuth + kTurnDeg <= range.azimuth.maximum) {
    azimuth += kTurnDeg;
  }
  azimuth = std::fmin(std::fmax(azimuth, range.azimuth.minimum), range.azimuth.maximum);
  const double elevation =
      std::fmin(std::fmax(elevationDeg, range.elevation.minimum), range.elevation.maximum);
  // The scheduler re-aims many times a second; a rotator controller given a new target each time
  // restarts its move and hardly turns, so a target within a tenth of a degree of the last is
  // not sent again.
  if (haveTarget_ && std::fabs(azimuth - targetAz_) < kMinimumStepDeg &&
      std::fabs(elevation - targetEl_) < kMinimumStepDeg) {
    return;
  }
  if (haveTarget_ && move == targetMove_ && move == PointMove::Track) {
    const bool arrived = readsSinceTarget_ > 0 &&
                         std::fabs(readAz_ - targetAz_) <= kRotatorArrivedDeg &&
                         std::fabs(readEl_ - targetEl_) <= kRotatorArrivedDeg;
    // A rotator that stopped short of its target (a stiff axis, an offset read-back) is
    // re-aimed as well, or it would wait for ever.
    const bool stopped =
        readsSinceTarget_ > 1 && readAz_ == previousReadAz_ && readEl_ == previousReadEl_;
    if (!arrived && !stopped) return;
  }
  const int status =
      rot_set_position(rot_, static_cast<azimuth_t>(azimuth), static_cast<elevation_t>(elevation));
  if (status != RIG_OK) {
    Lost(status, "stopped answering");
    return;
  }
  haveTarget_ = true;
  targetAz_ = azimuth;
  targetEl_ = elevation;
  targetMove_ = move;
  readsSinceTarget_ = 0;
}

PositionReading HamlibRotator::ReadPosition() {
  std::lock_guard lock(HamlibLock());
  PositionReading reading;
  if (!Ready()) return reading;
  azimuth_t azimuth = 0;
  elevation_t elevation = 0;
  const int status = rot_get_position(rot_, &azimuth, &elevation);
  if (status != RIG_OK) {
    Lost(status, "stopped answering");
    return reading;
  }
  reading.power = kPositionerPowered;
  reading.azimuth = azimuth;
  reading.elevation = elevation;
  previousReadAz_ = readAz_;
  previousReadEl_ = readEl_;
  readAz_ = azimuth;
  readEl_ = elevation;
  ++readsSinceTarget_;
  return reading;
}

}  // namespace halvik
