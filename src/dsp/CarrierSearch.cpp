#include "dsp/CarrierSearch.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace halvik {
namespace {

// How far the strongest bin must stand above the mean of the searched bins. Noise bins are
// exponentially distributed, so among a few thousand of them one exceeds this about once in 10^7
// blocks; a carrier 7 dB Eb/N0 at an 80 degree index stands some 25 dB above it.
constexpr float kDetectionRatio = 25.0f;
constexpr double kBlockSeconds = 0.02;

std::size_t BlockSizeFor(double sampleRate) {
  std::size_t size = 1024;
  while (static_cast<double>(size) < sampleRate * kBlockSeconds) size *= 2;
  return size;
}

}  // namespace

struct CarrierSearch::Plan {
  fftwf_complex* buffer = nullptr;
  fftwf_plan plan = nullptr;
};

CarrierSearch::CarrierSearch(double sampleRate, double spanHz)
    : sampleRate_(sampleRate), size_(BlockSizeFor(sampleRate)), plan_(new Plan) {
  const double binHz = sampleRate / static_cast<double>(size_);
  searchBins_ = std::min(static_cast<std::size_t>(spanHz / binHz) + 1, size_ / 2 - 2);
  window_.resize(size_);
  for (std::size_t i = 0; i < size_; ++i) {
    window_[i] =
        static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                                static_cast<double>(size_)));
  }
  power_.resize(2 * searchBins_ + 1);
  plan_->buffer = fftwf_alloc_complex(size_);
  // Estimated, not measured: planning must not cost a pass its first seconds.
  plan_->plan = fftwf_plan_dft_1d(static_cast<int>(size_), plan_->buffer, plan_->buffer,
                                  FFTW_FORWARD, FFTW_ESTIMATE);
}

CarrierSearch::~CarrierSearch() {
  fftwf_destroy_plan(plan_->plan);
  fftwf_free(plan_->buffer);
  delete plan_;
}

std::optional<double> CarrierSearch::Push(std::span<const Sample> samples, std::size_t& used) {
  used = std::min(samples.size(), size_ - filled_);
  auto* buffer = reinterpret_cast<Sample*>(plan_->buffer);
  for (std::size_t i = 0; i < used; ++i) buffer[filled_ + i] = samples[i] * window_[filled_ + i];
  filled_ += used;
  if (filled_ < size_) return std::nullopt;
  filled_ = 0;
  fftwf_execute(plan_->plan);

  // Bins -searchBins_ .. +searchBins_ around the centre, negative frequencies at the top.
  const auto bins = static_cast<std::ptrdiff_t>(searchBins_);
  double sum = 0;
  std::size_t peak = 0;
  for (std::ptrdiff_t k = -bins; k <= bins; ++k) {
    const std::size_t index =
        k < 0 ? size_ - static_cast<std::size_t>(-k) : static_cast<std::size_t>(k);
    const float p = std::norm(buffer[index]);
    const auto at = static_cast<std::size_t>(k + bins);
    power_[at] = p;
    sum += p;
    if (p > power_[peak]) peak = at;
  }
  const double mean = (sum - power_[peak]) / static_cast<double>(power_.size() - 1);
  if (!(power_[peak] > kDetectionRatio * mean) || peak == 0 || peak + 1 == power_.size()) {
    return std::nullopt;
  }
  // A Hann-windowed line is nearly Gaussian across its three top bins: a parabola through their
  // logarithms finds its centre to a small part of a bin.
  const double left = std::log(power_[peak - 1] + 1e-30);
  const double centre = std::log(power_[peak]);
  const double right = std::log(power_[peak + 1] + 1e-30);
  const double denominator = left - 2.0 * centre + right;
  const double shift = denominator < 0 ? 0.5 * (left - right) / denominator : 0.0;
  const double bin = static_cast<double>(peak) - static_cast<double>(bins) + shift;
  return bin * sampleRate_ / static_cast<double>(size_);
}

}  // namespace halvik
