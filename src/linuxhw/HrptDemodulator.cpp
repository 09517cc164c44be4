#include "dsp/HrptReceiver.h"
#include "linuxhw/SdrFrameSource.h"

namespace halvik {
namespace {

// The split-phase PM families' chain behind the SDR frame source.
class HrptDemodulator final : public FrameDemodulator {
 public:
  HrptDemodulator(double sampleRate, SatelliteFamily family) : receiver_(sampleRate, family) {}
  void Reset(SatelliteFamily family) override { receiver_.Reset(family); }
  void SetFrequencyCorrection(double hz) override { receiver_.SetFrequencyCorrection(hz); }
  void Push(std::span<const Sample> samples, const FrameSink& sink) override {
    receiver_.Push(samples, sink);
  }
  ReceiveQuality quality() const override { return receiver_.quality(); }

 private:
  HrptReceiver receiver_;
};

}  // namespace

std::unique_ptr<FrameDemodulator> MakeHrptDemodulator(double sampleRate, SatelliteFamily family) {
  return std::make_unique<HrptDemodulator>(sampleRate, family);
}

}  // namespace halvik
