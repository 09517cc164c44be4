#include "linuxhw/SdrTuner.h"

#include <algorithm>

#include "devices/Receiver.h"

namespace halvik {

float EbN0ToVolts(double ebn0Db) {
  constexpr double kVoltsPerDb = 0.5;
  return static_cast<float>(
      std::clamp(ebn0Db * kVoltsPerDb, 0.0, static_cast<double>(kSignalLevelFullScale)));
}

void SdrTuner::ReceiverTune(int mhz) {
  if (const std::optional<double> exact = DownlinkExactMhz(mhz)) ReceiverTuneExact(*exact);
}

void SdrTuner::ReceiverTuneExact(double mhz) {
  // A new frequency starts with no shift: the tracking loop gives the pass's own.
  source_.SetDopplerCorrection(0.0);
  source_.SetCentre(mhz * kHzPerMhz);
}

float SdrTuner::ReceiverReadStatus() {
  locked_.store(source_.Sync().locked ? 1 : 0, std::memory_order_relaxed);
  return EbN0ToVolts(source_.ebn0Db());
}

}  // namespace halvik
