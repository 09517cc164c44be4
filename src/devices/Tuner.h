#pragma once

#include <cstdint>
#include <optional>

#include "devices/FrameSource.h"

namespace halvik {

// The idle frequency between passes, MHz.
inline constexpr int ReceiverIdleFrequency = 1691;

// The highest signal level the status view shows, volts: levels are on a 0..10 V scale.
inline constexpr float kSignalLevelFullScale = 9.999f;

// The receiver as the station drives it: tuning and ReceiverRefresh on the tracking thread,
// status on the user-interface thread (backends keep the two apart on their line; one whose
// exchanges can stall reads on the tracking thread and only publishes to the status). Frequencies
// are given as the downlink table holds them, in whole MHz (1702 stands for the 1702.5 MHz
// downlink).
class Tuner {
 public:
  virtual ~Tuner() = default;

  // Sets the receiver up and tunes the idle frequency.
  virtual void ReceiverInit() = 0;
  // Tunes one of the known downlinks (or the idle frequency); any other value does nothing.
  virtual void ReceiverTune(int mhz) = 0;
  // Tunes a downlink by its exact carrier, MHz, where two share a whole MHz (Meteor's 1700.0
  // and FengYun's 1700.5). A receiver whose table knows each downlink only by its whole MHz
  // takes the whole MHz.
  virtual void ReceiverTuneExact(double mhz) { ReceiverTune(static_cast<int>(mhz)); }
  // Once a second on the tracking thread: reads what the status publishes, for a receiver whose
  // status exchange must not hold the user-interface thread.
  virtual void ReceiverRefresh() {}
  // Asks for the signal level (volts, 0..10, returned) and the lock (kept for ReceiverLocked).
  virtual float ReceiverReadStatus() = 0;
  // The carrier's predicted Doppler shift while a pass is followed, Hz (positive: arriving
  // high), from the tracking thread; tuning a frequency clears it. Receivers that follow the
  // carrier themselves ignore it.
  virtual void ReceiverDoppler(double hz) { (void)hz; }
  // Samples lost on the way from the antenna (a device overflow, a link gap, a demodulator too
  // slow for its device) since start-up; nothing for a receiver that has no samples. Any thread.
  virtual std::optional<std::int64_t> ReceiverDroppedSamples() const { return std::nullopt; }
  // The decoder's Reed-Solomon work since start-up, for a receiver that decodes coded
  // downlinks itself. Any thread.
  virtual std::optional<CodingTally> ReceiverCoding() const { return std::nullopt; }
  // 1 when the last status query found lock. Any thread.
  virtual int ReceiverLocked() const = 0;
  // The frequency last tuned, MHz. Any thread.
  virtual double ReceiverFrequency() const = 0;
};

}  // namespace halvik
