#pragma once

#include <mutex>
#include <string>

#include "devices/FrameSource.h"
#include "devices/Tuner.h"
#include "linuxhw/Reconnect.h"
#include "platform/Shared.h"

struct s_rig;

namespace halvik {

class Clock;
class Messages;

// Signal level on the view's 0..10 V scale from a rig's STRENGTH (dB relative to S9, where S0
// is -54 dB): one volt per 10 dB above S0, so S9 reads 5.4 V and S9+46 dB full scale.
float StrengthToVolts(int strengthDb);
// Signal level from a frame stream's share of recent frames in sync, for want of a rig.
float SyncQualityToVolts(double quality);

// The receiver through libhamlib: any rig model with its port, as rigctl takes them (model 2
// talks to rigctld). Tunes each downlink and the idle frequency; the status shows the rig's own
// frequency, "SL" from its STRENGTH level and "LK" from the frame source's sync. Model 0 is no
// rig (a demodulator that tunes itself): the planned frequency is shown and SL comes from the
// frame stream's sync quality. A rig that cannot be opened or stops answering gets one message
// and is opened again with back-off; tuning goes on being planned meanwhile. Tuning runs on the
// tracking thread and the status on the user-interface thread: one exchange at a time.
class HamlibRig final : public Tuner {
 public:
  HamlibRig(int model, std::string port, const FrameSource& frames, Clock& clock,
            Messages& messages);
  ~HamlibRig() override;
  HamlibRig(const HamlibRig&) = delete;
  HamlibRig& operator=(const HamlibRig&) = delete;

  // Opens the rig now (nothing to open without one); false after the one message.
  bool Open();
  void Close();

  void ReceiverInit() override;
  void ReceiverTune(int mhz) override;
  float ReceiverReadStatus() override;
  int ReceiverLocked() const override { return locked_.load(); }
  double ReceiverFrequency() const override { return frequency_.load(); }

 private:
  bool HasRig() const { return model_ != 0; }
  bool OpenLocked();
  void CloseLocked();
  bool ReadyLocked();
  void LostLocked(int status, const char* what);
  void SetFrequencyLocked();

  int model_;
  std::string port_;
  const FrameSource& frames_;
  Messages& messages_;
  Reconnect reconnect_;
  s_rig* rig_ = nullptr;
  bool open_ = false;
  bool messageShown_ = false;
  double planned_ =
      ReceiverIdleFrequency;  // MHz, the last frequency tuned; guarded by HamlibLock()
  Shared<double> frequency_{ReceiverIdleFrequency};  // MHz, shown
  Shared<std::int32_t> locked_{0};
};

}  // namespace halvik
