#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Device.h"
#include "sim/CaduStream.h"
#include "sim/EarthScene.h"
#include "sim/SkyLink.h"

namespace halvik::sim {

struct SimSynchronizerOptions {
  std::uint64_t seed = 1;  // noise and bit errors come from a generator seeded with this
  // ReadBlock fails (the control call returns false) on this call, counted from 0, and on every
  // call after it; -1: never.
  std::int64_t failReadFromBlock = -1;
  // ReadBlock calls from this one on (counted from 0) transfer only `shortTransferBytes`, for
  // `shortTransferBlocks` calls; -1: never. The rest of the caller's buffer is left untouched.
  std::int64_t shortTransferFromBlock = -1;
  std::int64_t shortTransferBlocks = 1;
  std::uint32_t shortTransferBytes = 8000;  // even, below 16384
  // The board buffers this much of the stream (ms) for a reader that falls behind; anything
  // older is overwritten and lost.
  double fifoMs = 500;
};

// What the board has been asked to do, for tests.
struct SimSynchronizerCounters {
  std::uint64_t blocksRead = 0;     // successful ReadBlock calls
  std::uint64_t failedReads = 0;    // ReadBlock calls failed by injection
  std::uint64_t noaaStarts = 0;     // StartNoaaMode
  std::uint64_t seaStarStarts = 0;  // StartSeaStarMode
  std::uint64_t stops = 0;          // StopAcquisition
  std::uint64_t configures = 0;     // accepted Configure calls
  std::uint64_t rejectedCalls = 0;  // unknown codes, wrong buffer sizes, wrong values
  std::uint64_t framesInLock = 0;   // minor frames started while in lock
};

// The HRPT bit and frame synchronizer board behind \\.\hrptBfs. It hears what the sky's
// downlink offers; in lock, in the acquisition mode that matches the satellite, it delivers that
// satellite's minor frames, starting at a frame boundary after each start, with the downlink's
// bit errors in everything but the sync words (the board re-inserts the sync pattern it locked
// on). A CADU family's frames are its CADUs, one byte a word, with the bit errors in every byte,
// marker included. Otherwise it delivers noise. Blocks arrive at the downlink's word rate on the
// clock.
class SimSynchronizer final : public Device {
 public:
  SimSynchronizer(SkyLink& sky, Clock& clock, SimSynchronizerOptions options = {});

  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output, std::uint32_t& transferred) override;

  SimSynchronizerCounters counters() const;
  // A stopped board fails every block read (the control call returns false) until started
  // again, as one whose firmware has hung.
  void SetStopped(bool stopped) { stopped_.store(stopped, std::memory_order_relaxed); }

 private:
  enum class Mode { Stopped, Noaa, SeaStar };

  bool Reject();
  bool Hears(SatelliteFamily family) const;
  bool ReadBlock(std::span<std::uint8_t> output, std::uint32_t& transferred);
  // `utcMs`: when the block's first word came down; `msPerWord`: the downlink's word period.
  void Emit(const DownlinkView& link, bool locked, std::span<std::uint8_t> output,
            std::size_t words, double utcMs, double msPerWord);
  void StartFrame(const DownlinkView& link, std::int64_t utcMs);
  void InjectBitErrors(double bitErrorRate, std::size_t firstWord, std::size_t endWord,
                       int bitsPerWord);
  std::uint16_t NoiseWord();

  SkyLink& sky_;
  Clock& clock_;
  const SimSynchronizerOptions options_;

  std::mutex mutex_;  // one caller at a time; never held while sleeping
  std::mt19937_64 random_;
  Mode mode_ = Mode::Stopped;
  std::int64_t readCalls_ = 0;
  // The frame being sent: its words, the next position, and whether it is synthesized yet.
  std::vector<std::uint16_t> frame_;
  std::size_t frameWords_;
  std::size_t framePosition_ = 0;
  bool frameReady_ = false;
  SatelliteFamily frameFamily_ = SatelliteFamily::Noaa;
  std::uint32_t frameCounter_ = 0;
  // A CADU family's stream: the satellite's, and the number of its next CADU (nothing: taken
  // from the time when the next CADU starts, after an acquisition).
  std::unique_ptr<CaduStream> caduStream_;
  std::string caduSatellite_;
  std::optional<std::int64_t> nextCadu_;
  // The Earth the heard satellite's imager sees, made when a link first brings its orbit, and
  // the satellite it was made for; the land is indexed once and kept.
  std::shared_ptr<const LandIndex> land_;
  std::unique_ptr<EarthScene> earth_;
  std::string earthSatellite_;
  std::uint64_t noiseState_;  // the noise generator's own, apart from the bit errors
  std::uint64_t noiseBits_ = 0;
  int noiseWordsLeft_ = 0;
  // Monotonic ms at which the last delivered word arrived; NaN before the first read.
  double streamMs_;

  std::atomic<std::uint64_t> blocksRead_{0}, failedReads_{0}, noaaStarts_{0}, seaStarStarts_{0},
      stops_{0}, configures_{0}, rejectedCalls_{0}, framesInLock_{0};
  std::atomic<bool> stopped_{false};
};

}  // namespace halvik::sim
