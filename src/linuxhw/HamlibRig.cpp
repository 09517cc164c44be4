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
  if (!HasRig()) return true;
  Close();
  {
    std::lock_guard lock(HamlibLock());
    rig_ = rig_init(model_);
  }
  if (!rig_) {
    Lost(HamlibErrorText(-RIG_ENIMPL), "cannot be opened");
    return false;
  }
  std::string error;
  const std::optional<HamlibSettings> settings = HamlibPortSettings(
      rig_->caps->port_type == RIG_PORT_NETWORK, port_, "rig_pathname", "4532", error);
  if (!settings) {
    Lost(error, "cannot be opened");
    return false;
  }
  int status = RIG_OK;
  for (const auto& [token, value] : *settings) {
    if (status == RIG_OK) status = rig_set_conf(rig_, rig_token_lookup(rig_, token), value.c_str());
  }
  if (status == RIG_OK) status = rig_open(rig_);
  if (status != RIG_OK) {
    Lost(HamlibErrorText(status), "cannot be opened");
    return false;
  }
  // The status shows the rig's own frequency, not Hamlib's memory of the last one set.
  rig_set_cache_timeout_ms(rig_, HAMLIB_CACHE_ALL, 0);
  open_ = true;
  strength_ = kNoMeter;  // until the first read
  reconnect_.Succeeded();
  messageShown_ = false;
  // A rig that was away missed the tunings meanwhile.
  SetFrequency();
  return open_;
}

void HamlibRig::Close() {
  strength_ = kRigAway;
  if (!rig_) return;
  if (open_) rig_close(rig_);
  {
    std::lock_guard lock(HamlibLock());
    rig_cleanup(rig_);
  }
  rig_ = nullptr;
  open_ = false;
}

bool HamlibRig::Ready() {
  if (closeRequested_.load() != 0) {
    Close();
    return false;
  }
  if (open_) return true;
  if (!HasRig() || !reconnect_.Due()) return false;
  return Open();
}

void HamlibRig::Lost(const std::string& why, const char* what) {
  Close();
  reconnect_.Failed();
  if (messageShown_) return;
  messageShown_ = true;
  messages_.Show(Format("Receiver (Hamlib rig model %d, %s) %s: %s; the station retries it", model_,
                        port_.c_str(), what, why.c_str()));
}

void HamlibRig::SetFrequency() {
  if (!open_) return;
  const int status = rig_set_freq(rig_, RIG_VFO_CURR, std::round(planned_ * kHzPerMhz));
  if (status != RIG_OK) Lost(HamlibErrorText(status), "stopped answering");
}

void HamlibRig::ReceiverInit() {
  ReceiverTune(ReceiverIdleFrequency);
}

void HamlibRig::ReceiverTune(int mhz) {
  if (const std::optional<double> exact = DownlinkExactMhz(mhz)) ReceiverTuneExact(*exact);
}

void HamlibRig::ReceiverTuneExact(double mhz) {
  planned_ = mhz;
  frequency_ = mhz;
  if (Ready()) SetFrequency();
}

void HamlibRig::ReceiverRefresh() {
  if (!Ready()) return;
  freq_t hz = 0;
  int status = rig_get_freq(rig_, RIG_VFO_CURR, &hz);
  if (status != RIG_OK) {
    Lost(HamlibErrorText(status), "stopped answering");
    return;
  }
  frequency_ = hz / kHzPerMhz;
  value_t strength{};
  status = rig_get_level(rig_, RIG_VFO_CURR, RIG_LEVEL_STRENGTH, &strength);
  strength_ = status == RIG_OK ? StrengthToVolts(strength.i) : kNoMeter;
}

float HamlibRig::ReceiverReadStatus() {
  const FrameSync sync = frames_.Sync();
  locked_ = sync.locked ? 1 : 0;
  // A rig without a strength meter (or none at all) shows the stream's sync quality instead.
  if (!HasRig()) return SyncQualityToVolts(sync.quality);
  const float strength = strength_.load();
  if (strength == kRigAway) return 0.0f;
  return strength == kNoMeter ? SyncQualityToVolts(sync.quality) : strength;
}

}  // namespace halvik
