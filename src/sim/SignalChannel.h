#pragma once

#include <complex>
#include <cstdint>

#include "dsp/Samples.h"

namespace halvik {

// What the path from a satellite to an SDR does to a clean baseband signal: a carrier offset
// drifting with the Doppler, and complex white Gaussian noise of a given Eb/N0 per data bit.
// Shared by the simulated modulators; one sample at a time, state kept between calls.
class SignalChannel {
 public:
  // `bitRate`: the data bits per second Eb/N0 counts (information bits for a coded signal);
  // `amplitude`: the clean signal's RMS amplitude, full scale 1.
  SignalChannel(double sampleRate, double sampleClockPpm, double bitRate, double amplitude,
                double carrierOffsetHz, double carrierDriftHzPerS, double ebn0Db,
                std::uint64_t seed);

  void SetEbN0(double db);
  void SetCarrierOffset(double hz) {
    frequencyHz_ = hz;
    samplesToRefresh_ = 0;
  }
  // The receiver's true seconds per sample (its clock error included).
  double secondsPerSample() const { return secondsPerSample_; }

  Sample Apply(std::complex<double> clean) {
    if (samplesToRefresh_ == 0) RefreshCarrier();
    --samplesToRefresh_;
    Sample sample(clean * carrier_);
    carrier_ *= carrierStep_;
    if (noiseSigma_ > 0) sample += noiseSigma_ * Gaussian();
    return sample;
  }

 private:
  std::uint64_t NextRandom();
  std::complex<float> Gaussian();
  void RefreshCarrier();

  double sampleRate_;
  double bitRate_;
  double amplitude_;
  double secondsPerSample_;
  double driftHzPerS_;
  double frequencyHz_;
  std::complex<double> carrier_{1.0, 0.0};
  std::complex<double> carrierStep_{1.0, 0.0};
  int samplesToRefresh_ = 0;
  float noiseSigma_ = 0;  // per component; 0: no noise
  std::uint64_t noiseState_;
};

}  // namespace halvik
