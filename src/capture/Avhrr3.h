#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "devices/MetopFormat.h"

namespace halvik {

// Reed-Solomon check of a stored CADU (marker first): its four interleaved (255,223) codewords
// in the dual basis, each corrected in `cadu` where it can be.
struct CaduCheck {
  int correctedBytes = 0;
  int failedCodewords = 0;  // past correcting, left as they came
};
CaduCheck CorrectCadu(std::span<std::uint8_t, kCaduBytes> cadu);

// One AVHRR/3 scan line.
struct Avhrr3Line {
  std::int64_t utcMs = 0;  // ms since 1970, from the packet's days since 2000 and ms of day
  bool channel3A = false;  // channel 3 is 3A (APID 103), else 3B
  int spacecraftId = 0;    // of the VCDU that ended the packet
  // 10-bit counts, channel after channel.
  std::array<std::uint16_t, kAvhrrChannels * kAvhrrPixels> samples{};

  const std::uint16_t* Channel(int channel) const {
    return samples.data() + static_cast<std::size_t>(channel) * kAvhrrPixels;
  }
};

enum class Avhrr3Event {
  None,
  Line,     // a line is complete: Line() holds it
  LineCut,  // a CADU under the line being gathered was lost or past correcting: it is dropped
};

// Turns Metop CADUs, one at a time and in order, into AVHRR/3 scan lines: the VCDUs of the
// AVHRR's virtual channel, their packets across CADUs by the M_PDU pointer, the AVHRR's packets
// into lines. Other channels and packets are counted and left. Holds one packet and one line,
// allocates nothing after construction and accepts any bytes.
class Avhrr3Reader {
 public:
  struct Counts {
    std::int64_t cadus = 0;
    std::int64_t otherVcdus = 0;     // of other virtual channels (fill included)
    std::int64_t gaps = 0;           // breaks in the AVHRR channel's counter
    std::int64_t cadusLost = 0;      // counter values the breaks skipped
    std::int64_t uncorrectable = 0;  // CADUs with a codeword past correcting (when checked)
    std::int64_t rsCorrectedBytes = 0;
    std::int64_t rsFailedCodewords = 0;
    std::int64_t lines = 0;
    std::int64_t lines3A = 0;
    std::int64_t linesCut = 0;
    std::int64_t packetsBroken = 0;  // packets whose end disagreed with the next pointer
    std::array<std::int64_t, 2048> packetsPerApid{};
    std::array<std::int64_t, 256> vcdusPerSpacecraft{};
  };

  // `checkCodewords`: run the Reed-Solomon check on each CADU first and treat one past
  // correcting like a lost CADU (the capture's CADUs were corrected on the way in: the check
  // finds the ones that could not be).
  explicit Avhrr3Reader(bool checkCodewords = false) : check_(checkCodewords) {}

  // One CADU, marker first: as bytes, or as the capture thread's words (a byte in the low bits).
  Avhrr3Event Push(std::span<const std::uint8_t, kCaduBytes> cadu);
  Avhrr3Event Push(std::span<const std::uint16_t, kCaduBytes> cadu);

  const Avhrr3Line& Line() const { return line_; }
  const Counts& counts() const { return counts_; }

 private:
  Avhrr3Event Zone(const std::uint8_t* zone, int pointer, int spacecraftId);
  bool Feed(const std::uint8_t* bytes, int count, int spacecraftId);
  bool Lose();  // drops the packet being gathered; true when it was a line
  void Unpack(int spacecraftId);

  bool check_;
  bool synced_ = false;  // at a known place in the packet stream
  std::optional<std::uint32_t> counter_;
  int headFill_ = 0;   // bytes of the packet header gathered
  int remaining_ = 0;  // bytes of the packet after its header still to come
  bool keep_ = false;  // the packet is an AVHRR line being gathered in packet_
  int fill_ = 0;       // bytes of packet_ gathered
  std::array<std::uint8_t, kAvhrrPacketBytes> packet_{};
  std::array<std::uint8_t, kCaduBytes> bytes_{};
  Avhrr3Line line_;
  Counts counts_;
};

}  // namespace halvik
