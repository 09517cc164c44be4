#pragma once

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
// and is opened again with back-off; tuning goes on being planned meanwhile. The tracking thread
// owns the rig once it runs (start-up opens it before): it tunes, and reads the frequency and the
// level once a second in ReceiverRefresh. The status view's ReceiverReadStatus only reads what
// that published, so a rig or rigctld that stops answering never holds the window, the web page
// or the watchdog. A network rig holds its owner at most kHamlibConnectWaitMs to connect and
// kHamlibReplyWaitMs for each answer.
class HamlibRig final : public Tuner {
 public:
  HamlibRig(int model, std::string port, const FrameSource& frames, Clock& clock,
            Messages& messages);
  ~HamlibRig() override;
  HamlibRig(const HamlibRig&) = delete;
  HamlibRig& operator=(const HamlibRig&) = delete;

  // Opens the rig now (nothing to open without one); false after the one message. Owner only.
  bool Open();
  void Close();
  // Any thread: the owner closes the rig at its next exchange (and the destructor in any case).
  void RequestClose() { closeRequested_ = 1; }

  void ReceiverInit() override;
  void ReceiverTune(int mhz) override;
  void ReceiverTuneExact(double mhz) override;
  void ReceiverRefresh() override;
  float ReceiverReadStatus() override;
  int ReceiverLocked() const override { return locked_.load(); }
  double ReceiverFrequency() const override { return frequency_.load(); }

 private:
  bool HasRig() const { return model_ != 0; }
  bool Ready();
  void Lost(const std::string& why, const char* what);
  void SetFrequency();

  int model_;
  std::string port_;
  const FrameSource& frames_;
  Messages& messages_;
  Reconnect reconnect_;
  s_rig* rig_ = nullptr;
  bool open_ = false;
  bool messageShown_ = false;
  double planned_ = ReceiverIdleFrequency;  // MHz, the last frequency tuned
  Shared<std::int32_t> closeRequested_{0};
  // Published by the owner for the views: the frequency (MHz), the STRENGTH level in volts
  // (kNoMeter: the rig has none, kRigAway: it is not open), and the lock of the last status read.
  static constexpr float kNoMeter = -1.0f;
  static constexpr float kRigAway = -2.0f;
  Shared<double> frequency_{ReceiverIdleFrequency};
  Shared<float> strength_{kRigAway};
  Shared<std::int32_t> locked_{0};
};

}  // namespace halvik
