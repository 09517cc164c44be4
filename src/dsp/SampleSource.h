#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "dsp/Samples.h"

namespace halvik {

// What one read brought: samples, nothing yet (the source is alive, or reconnecting), the end
// of a recording, or a failure after which the source cannot be read again.
enum class SampleRead { Data, NoData, End, Failed };

// Where complex baseband samples come from: a recording, an SDR, an rtl_tcp server. One
// reading thread, except the counters, which any thread may read.
class SampleSource {
 public:
  virtual ~SampleSource() = default;

  // Samples per second (the device's actual rate once it is open).
  virtual double sampleRate() const = 0;
  // Up to out.size() samples; `count` is how many are new (0 unless Data). Waits at most about
  // 100 ms for them, so the caller can look at its stop flag.
  virtual SampleRead Read(std::span<Sample> out, std::size_t& count) = 0;
  // Centre frequency in Hz; false when the source cannot be tuned (a recording) or refused it.
  virtual bool Tune(double hz) = 0;
  // Gain in dB, or the device's automatic gain for nothing.
  virtual bool SetGain(std::optional<double> db) = 0;
  // Samples the device or its link lost (overflows, gaps): counted, never silently stitched.
  virtual std::int64_t dropped() const { return 0; }
  // Why the last read failed, or why the source is away, for one clear message.
  virtual std::string error() const { return {}; }
};

}  // namespace halvik
