#include "linuxhw/HamlibRig.h"

#include <hamlib/rig.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "devices/Receiver.h"
#include "linuxhw/HamlibText.h"
#include "platform/Messages.h"
#include "platform/Text.h"
#include "platform/Units.h"

namespace halvik {
namespace {

constexpr int kStrengthS0Db = -54;
constexpr double kDbPerVolt = 10.0;

}  // namespace

float StrengthToVolts(int strengthDb) {
  const double volts = (strengthDb - kStrengthS0Db) / kDbPerVolt;
  return static_cast<float>(std::clamp(volts, 0.0, static_cast<double>(kSignalLevelFullScale)));
}

float SyncQualityToVolts(double quality) {
  if (!(quality > 0.0)) return 0.0f;
  return static_cast<float>(std::min(quality, 1.0) * kSignalLevelFullScale);
}

HamlibRig::HamlibRig(int model, std::string port, const FrameSource& frames, Clock& clock,
                     Messages& messages)
    : model_(model),
      port_(std::move(port)),
      frames_(frames),
      messages_(messages),
      reconnect_(clock) {
  QuietHamlib();
}

HamlibRig::~HamlibRig() {
  Close();
}

bool HamlibRig::Open() {
  std::lock_guard lock(HamlibLock());
  return OpenLocked();
}

void HamlibRig::Close() {
  std::lock_guard lock(HamlibLock());
  CloseLocked();
}

bool HamlibRig::OpenLocked() {
  if (!HasRig()) return true;
  CloseLocked();
  rig_ = rig_init(model_);
  int status = rig_ ? RIG_OK : -RIG_ENIMPL;
  if (rig_ && !port_.empty()) {
    status = rig_set_conf(rig_, rig_token_lookup(rig_, "rig_pathname"), port_.c_str());
  }
  if (status == RIG_OK) status = rig_open(rig_);
  if (status != RIG_OK) {
    LostLocked(status, "cannot be opened");
    return false;
  }
  open_ = true;
  reconnect_.Succeeded();
  messageShown_ = false;
  // A rig that was away missed the tunings meanwhile.
  SetFrequencyLocked();
  return open_;
}

void HamlibRig::CloseLocked() {
  if (!rig_) return;
  if (open_) rig_close(rig_);
  rig_cleanup(rig_);
  rig_ = nullptr;
  open_ = false;
}

bool HamlibRig::ReadyLocked() {
  if (open_) return true;
  if (!HasRig() || !reconnect_.Due()) return false;
  return OpenLocked();
}

void HamlibRig::LostLocked(int status, const char* what) {
  CloseLocked();
  reconnect_.Failed();
  if (messageShown_) return;
  messageShown_ = true;
  messages_.Show(Format("Receiver (Hamlib rig model %d, %s) %s: %s; the station retries it", model_,
                        port_.c_str(), what, HamlibErrorText(status).c_str()));
}

void HamlibRig::SetFrequencyLocked() {
  if (!open_) return;
  const int status = rig_set_freq(rig_, RIG_VFO_CURR, std::round(planned_ * kHzPerMhz));
  if (status != RIG_OK) LostLocked(status, "stopped answering");
}

void HamlibRig::ReceiverInit() {
  ReceiverTune(ReceiverIdleFrequency);
}

void HamlibRig::ReceiverTune(int mhz) {
  const std::optional<double> exact = DownlinkExactMhz(mhz);
  if (!exact) return;
  std::lock_guard lock(HamlibLock());
  planned_ = *exact;
  frequency_ = *exact;
  if (ReadyLocked()) SetFrequencyLocked();
}

float HamlibRig::ReceiverReadStatus() {
  const FrameSync sync = frames_.Sync();
  locked_ = sync.locked ? 1 : 0;
  std::lock_guard lock(HamlibLock());
  if (!HasRig()) return SyncQualityToVolts(sync.quality);
  if (!ReadyLocked()) return 0.0f;
  freq_t hz = 0;
  int status = rig_get_freq(rig_, RIG_VFO_CURR, &hz);
  if (status != RIG_OK) {
    LostLocked(status, "stopped answering");
    return 0.0f;
  }
  frequency_ = hz / kHzPerMhz;
  value_t strength{};
  status = rig_get_level(rig_, RIG_VFO_CURR, RIG_LEVEL_STRENGTH, &strength);
  // A rig without a strength meter shows the stream's sync quality instead.
  if (status != RIG_OK) return SyncQualityToVolts(sync.quality);
  return StrengthToVolts(strength.i);
}

}  // namespace halvik
