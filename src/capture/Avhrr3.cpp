#include "capture/Avhrr3.h"

#include <algorithm>

extern "C" {
#include <fec.h>
}

namespace halvik {
namespace {

constexpr std::uint32_t kCounterModulus = 1u << 24;

int Apid(const std::uint8_t* head) {
  return ((head[0] & 0x07) << 8) | head[1];
}

}  // namespace

CaduCheck CorrectCadu(std::span<std::uint8_t, kCaduBytes> cadu) {
  static_assert((kCaduBytes - kVcduOffset) % kRsInterleave == 0);
  static_assert(kRsInterleave * kRsCheckBytes == kCaduBytes - kRsCheckOffset);
  // Byte k of codeword c lies at kVcduOffset + c + 4 k; the codewords are shortened to 255 less
  // the padding libfec is told of.
  constexpr int kLength = (kCaduBytes - kVcduOffset) / kRsInterleave;
  constexpr int kPad = kRsCodewordBytes - kLength;
  CaduCheck check;
  std::array<std::uint8_t, kLength> codeword{};
  for (int c = 0; c < kRsInterleave; ++c) {
    std::uint8_t* first = cadu.data() + kVcduOffset + c;
    for (int k = 0; k < kLength; ++k)
      codeword[static_cast<std::size_t>(k)] = first[k * kRsInterleave];
    const int result = decode_rs_ccsds(codeword.data(), nullptr, 0, kPad);
    if (result < 0) {
      check.failedCodewords += 1;
      continue;
    }
    check.correctedBytes += result;
    for (int k = 0; k < kLength; ++k)
      first[k * kRsInterleave] = codeword[static_cast<std::size_t>(k)];
  }
  return check;
}

Avhrr3Event Avhrr3Reader::Push(std::span<const std::uint16_t, kCaduBytes> cadu) {
  for (std::size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<std::uint8_t>(cadu[i]);
  return Push(std::span<const std::uint8_t, kCaduBytes>(bytes_));
}

Avhrr3Event Avhrr3Reader::Push(std::span<const std::uint8_t, kCaduBytes> cadu) {
  counts_.cadus += 1;
  const std::uint8_t* data = cadu.data();
  if (check_) {
    if (data != bytes_.data()) std::copy(cadu.begin(), cadu.end(), bytes_.begin());
    data = bytes_.data();
    const CaduCheck rs = CorrectCadu(bytes_);
    counts_.rsCorrectedBytes += rs.correctedBytes;
    counts_.rsFailedCodewords += rs.failedCodewords;
    if (rs.failedCodewords > 0) {
      // Nothing in it can be trusted, its header included: the packets it touched are lost as
      // if it had not come, and the counter's next step shows no gap for it.
      counts_.uncorrectable += 1;
      const bool cut = Lose();
      synced_ = false;
      if (counter_) counter_ = (*counter_ + 1) % kCounterModulus;
      return cut ? Avhrr3Event::LineCut : Avhrr3Event::None;
    }
  }

  const int id = (data[kVcduIdOffset] << 8) | data[kVcduIdOffset + 1];
  const int spacecraftId = (id >> 6) & 0xFF;
  const int channel = id & 0x3F;
  if ((id >> 14) != kVcduVersion || channel != kAvhrrVirtualChannel) {
    counts_.otherVcdus += 1;
    return Avhrr3Event::None;
  }
  counts_.vcdusPerSpacecraft[static_cast<std::size_t>(spacecraftId)] += 1;
  Avhrr3Event event = Avhrr3Event::None;
  const std::uint32_t counter = (std::uint32_t{data[kVcduCounterOffset]} << 16) |
                                (std::uint32_t{data[kVcduCounterOffset + 1]} << 8) |
                                data[kVcduCounterOffset + 2];
  if (counter_) {
    const std::uint32_t step = (counter - *counter_) % kCounterModulus;
    if (step != 1) {
      counts_.gaps += 1;
      counts_.cadusLost += step == 0 ? 0 : step - 1;
      if (Lose()) event = Avhrr3Event::LineCut;
      synced_ = false;
    }
  }
  counter_ = counter;
  const int pointer = ((data[kMpduHeaderOffset] & 0x07) << 8) | data[kMpduHeaderOffset + 1];
  const Avhrr3Event zone = Zone(data + kPacketZoneOffset, pointer, spacecraftId);
  return zone == Avhrr3Event::None ? event : zone;
}

Avhrr3Event Avhrr3Reader::Zone(const std::uint8_t* zone, int pointer, int spacecraftId) {
  if (pointer == kIdleZone) return Avhrr3Event::None;
  bool line = false;
  bool cut = false;
  if (pointer == kNoPacketStarts) {
    if (synced_) line = Feed(zone, kPacketZoneBytes, spacecraftId);
    return line ? Avhrr3Event::Line : Avhrr3Event::None;
  }
  if (pointer >= kPacketZoneBytes) {
    cut = Lose();
    synced_ = false;
    return cut ? Avhrr3Event::LineCut : Avhrr3Event::None;
  }
  if (synced_) {
    line = Feed(zone, pointer, spacecraftId);
    if (headFill_ != 0 || remaining_ != 0) {
      // The packet did not end where the next begins: its length or the pointer is wrong.
      counts_.packetsBroken += 1;
      cut = Lose();
    }
  }
  synced_ = true;
  line = Feed(zone + pointer, kPacketZoneBytes - pointer, spacecraftId) || line;
  if (line) return Avhrr3Event::Line;
  return cut ? Avhrr3Event::LineCut : Avhrr3Event::None;
}

// Takes the packet stream's next bytes; true when they complete an AVHRR line.
bool Avhrr3Reader::Feed(const std::uint8_t* bytes, int count, int spacecraftId) {
  bool line = false;
  while (count > 0) {
    if (headFill_ < kPacketHeaderBytes) {
      packet_[static_cast<std::size_t>(headFill_++)] = *bytes++;
      --count;
      if (headFill_ < kPacketHeaderBytes) continue;
      const int length = ((packet_[4] << 8) | packet_[5]) + 1;
      const int apid = Apid(packet_.data());
      remaining_ = length;
      keep_ = (apid == kAvhrr3AApid || apid == kAvhrr3BApid) &&
              kPacketHeaderBytes + length == kAvhrrPacketBytes;
      fill_ = kPacketHeaderBytes;
      continue;
    }
    const int take = std::min(count, remaining_);
    if (keep_) std::copy_n(bytes, take, packet_.begin() + fill_);
    fill_ += take;
    remaining_ -= take;
    bytes += take;
    count -= take;
    if (remaining_ > 0) continue;
    counts_.packetsPerApid[static_cast<std::size_t>(Apid(packet_.data()))] += 1;
    if (keep_) {
      Unpack(spacecraftId);
      line = true;
    }
    headFill_ = 0;
    keep_ = false;
  }
  return line;
}

bool Avhrr3Reader::Lose() {
  const bool cut = keep_ && headFill_ == kPacketHeaderBytes;
  if (cut) counts_.linesCut += 1;
  headFill_ = 0;
  remaining_ = 0;
  keep_ = false;
  return cut;
}

void Avhrr3Reader::Unpack(int spacecraftId) {
  const std::uint8_t* p = packet_.data();
  const std::int64_t days = (p[kAvhrrDayOffset] << 8) | p[kAvhrrDayOffset + 1];
  const std::int64_t ms = (std::int64_t{p[kAvhrrMsOffset]} << 24) | (p[kAvhrrMsOffset + 1] << 16) |
                          (p[kAvhrrMsOffset + 2] << 8) | p[kAvhrrMsOffset + 3];
  line_.utcMs = kUnixMsAt2000 + days * 86400000 + ms;
  line_.channel3A = Apid(p) == kAvhrr3AApid;
  line_.spacecraftId = spacecraftId;
  counts_.lines += 1;
  if (line_.channel3A) counts_.lines3A += 1;
  // 10-bit words MSB first; earth-view word w of pixel x, channel c: first + 5 x + c. A 10-bit
  // word starts on an even bit, so two bytes always hold it.
  static_assert(kAvhrrWordsOffset >= 0 && kAvhrrEarthFirstWord * 10 % 2 == 0);
  const std::uint8_t* words = p + kAvhrrWordsOffset;
  for (int w = 0; w < kAvhrrChannels * kAvhrrPixels; ++w) {
    const int bit = (kAvhrrEarthFirstWord + w) * 10;
    const std::uint8_t* at = words + bit / 8;
    const unsigned pair = (unsigned{at[0]} << 8) | at[1];
    const auto word = static_cast<std::uint16_t>((pair >> (6 - bit % 8)) & 0x3FF);
    line_.samples[static_cast<std::size_t>((w % kAvhrrChannels) * kAvhrrPixels +
                                           w / kAvhrrChannels)] = word;
  }
}

}  // namespace halvik
