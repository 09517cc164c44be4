#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "devices/ControlCodes.h"
#include "devices/Downlink.h"

namespace halvik {

// What one read brought: words, nothing yet (the source is alive, or reconnecting, and keeps
// trying), or a failure after which the source cannot be read again.
enum class FrameRead { Data, NoData, Failed };

// How well a source's frames carry their sync words lately: for the receiver line when no
// receiver reports a lock of its own. `quality` 0..1 is the share of recent frames with sync.
struct FrameSync {
  bool locked = false;
  double quality = 0.0;
};

// Reed-Solomon work of a coded downlink's decoder: bytes corrected and codewords beyond
// correction.
struct CodingTally {
  std::int64_t correctedBytes = 0;
  std::int64_t uncorrectableCodewords = 0;
  CodingTally operator-(const CodingTally& since) const {
    return {correctedBytes - since.correctedBytes,
            uncorrectableCodewords - since.uncorrectableCodewords};
  }
};

// Where the capture thread's HRPT words come from: little-endian 16-bit words, one 10-bit word
// in the low bits of each. After each Start the words are whole frames of the family, aligned
// on a frame's first word, in blocks of at most kSyncBlockWords; frames out of lock may carry
// anything. Capture thread only, except Sync().
class FrameSource {
 public:
  virtual ~FrameSource() = default;

  // Opens the source; true when it can be read. Closes it; true when that succeeded.
  virtual bool Open() = 0;
  virtual bool Close() = 0;
  virtual bool IsOpen() const = 0;
  // Once after opening.
  virtual void Configure() = 0;
  // Stops delivering; starts (again) for a family, from a frame boundary.
  virtual void Stop() = 0;
  virtual void Start(SatelliteFamily family) = 0;
  // Up to one block into `block`; `words` is how many of them are new (0 unless Data).
  virtual FrameRead Read(std::span<std::uint16_t, kSyncBlockWords> block, std::size_t& words) = 0;
  // Any thread. A source without its own view of the sync reports none.
  virtual FrameSync Sync() const { return {}; }
  // Any thread. The decoder's Reed-Solomon work since the source was made; nothing for a
  // source that decodes no coded downlink.
  virtual std::optional<CodingTally> CodingWork() const { return std::nullopt; }
};

}  // namespace halvik
