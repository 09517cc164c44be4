#pragma once

#include <atomic>
#include <cstdint>

#include "devices/Tuner.h"
#include "linuxhw/SdrFrameSource.h"
#include "platform/Units.h"

namespace halvik {

// Signal level on the view's 0..10 V scale from the demodulator's Eb/N0 estimate: half a volt
// per dB, so 0 dB (or less) reads 0 V, 10 dB, about where frames start to hold sync, 5 V, and
// 20 dB or more full scale.
float EbN0ToVolts(double ebn0Db);

// The SDR as the station's receiver: tuning a downlink sets the device's centre to the exact
// carrier, and the pass's predicted Doppler shift goes to the demodulator, whose carrier loop
// then follows only the rest. The status shows the device's centre, SL from the Eb/N0
// estimate and LK from frame sync. Any thread (the source keeps the values as atomics).
class SdrTuner final : public Tuner {
 public:
  explicit SdrTuner(SdrFrameSource& source) : source_(source) {}

  void ReceiverInit() override { ReceiverTune(ReceiverIdleFrequency); }
  void ReceiverTune(int mhz) override;
  void ReceiverTuneExact(double mhz) override;
  void ReceiverDoppler(double hz) override { source_.SetDopplerCorrection(hz); }
  float ReceiverReadStatus() override;
  int ReceiverLocked() const override { return locked_.load(std::memory_order_relaxed); }
  std::optional<std::int64_t> ReceiverDroppedSamples() const override {
    return source_.droppedSamples();
  }
  std::optional<CodingTally> ReceiverCoding() const override { return source_.CodingWork(); }
  double ReceiverFrequency() const override { return source_.centreHz() / kHzPerMhz; }

 private:
  SdrFrameSource& source_;
  std::atomic<int> locked_{0};
};

}  // namespace halvik
