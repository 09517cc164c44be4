#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "devices/Downlink.h"
#include "dsp/Samples.h"

namespace halvik {

// How the chain is doing, for the receiver line, the web page and `halvik demod`'s summary.
struct ReceiveQuality {
  bool carrierLocked = false;
  double ebn0Db = 0.0;  // estimate from the recovered symbols
  double carrierOffsetHz =
      0.0;                 // carrier found, relative to the tuned (and Doppler-corrected) centre
  bool frameSync = false;  // the frame layer holds lock
  std::int64_t framesOut = 0;
  std::int64_t framesWithSync = 0;
  // Coded families: Reed-Solomon bytes corrected and codewords beyond correction, and the
  // coding phase the decoder locked to (empty for the others and before lock).
  std::int64_t correctedBytes = 0;
  std::int64_t uncorrectableCodewords = 0;
  std::string codingPhase;
};

// The receive chain: complex samples to whole frames in the right polarity. The split-phase PM
// families from about 2.2 samples per chip up; the QPSK families from about 1.3 samples per
// symbol, through the coded CADU decoder (frames handed over decoded and corrected). The frame
// layer follows the family's frame kind: HRPT minor frames of 10-bit words aligned on their first
// sync word, handed over as the Deframer hands them over (flywheel included), or CADUs as the
// CaduFramer hands them over. No I/O, no threads: the caller pushes blocks.
class HrptReceiver {
 public:
  using FrameSink = std::function<void(std::span<const std::uint16_t> frame)>;

  HrptReceiver(double sampleRate, SatelliteFamily family);
  ~HrptReceiver();
  HrptReceiver(const HrptReceiver&) = delete;
  HrptReceiver& operator=(const HrptReceiver&) = delete;

  // Another family (bit rate, frame length): a fresh acquisition.
  void Reset(SatelliteFamily family);
  // A known offset of the carrier from the centre, Hz (the pass's Doppler, predicted): mixed out
  // before the carrier loop, which then tracks only the rest. May change between blocks.
  void SetFrequencyCorrection(double hz);
  // Any number of samples; every completed frame goes to `sink` before this returns.
  void Push(std::span<const Sample> samples, const FrameSink& sink);
  ReceiveQuality quality() const;

 private:
  struct Chain;
  double sampleRate_;
  double correctionHz_ = 0.0;
  std::unique_ptr<Chain> chain_;
};

}  // namespace halvik
