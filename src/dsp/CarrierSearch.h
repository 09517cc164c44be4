#pragma once

#include <complex>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "dsp/Samples.h"

namespace halvik {

// Finds a residual carrier in a span of frequencies around the centre: the power spectrum of a
// Hann-windowed block of about 20 ms, its strongest bin, refined between bins. A split-phase
// spectrum has a null at the carrier, so the carrier's line stands far above the data and noise.
class CarrierSearch {
 public:
  CarrierSearch(double sampleRate, double spanHz);
  ~CarrierSearch();
  CarrierSearch(const CarrierSearch&) = delete;
  CarrierSearch& operator=(const CarrierSearch&) = delete;

  // Takes samples until a block is full; then the carrier's frequency in Hz, or nothing when no
  // line stands out of the noise (the block is used up either way). `used` says how many of
  // `samples` were taken.
  std::optional<double> Push(std::span<const Sample> samples, std::size_t& used);
  // Forgets a partly gathered block.
  void Clear() { filled_ = 0; }
  std::size_t blockSize() const { return size_; }

 private:
  double sampleRate_;
  std::size_t size_;
  std::size_t searchBins_;  // each side of the centre
  std::size_t filled_ = 0;
  std::vector<float> window_;
  std::vector<float> power_;
  // FFTW's own aligned buffers and plan, kept opaque here.
  struct Plan;
  Plan* plan_;
};

}  // namespace halvik
