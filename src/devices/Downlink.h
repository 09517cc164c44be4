#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "devices/ControlCodes.h"
#include "devices/HrptFormat.h"

namespace halvik {

// The kind of downlink being received: chosen from the satellite name when a capture starts,
// it fixes everything in FamilyFacts below.
enum class SatelliteFamily { Noaa, FengYun, SeaStar, Meteor, Metop };

// What the bit stream is cut into: HRPT minor frames of 10-bit words behind six sync words, or
// CCSDS CADUs of 1024 bytes behind the attached sync marker 0x1ACFFC1D. Through the frame
// layers and the capture thread a CADU travels as 1024 words, one byte in the low bits of each.
enum class FrameKind { HrptWords, Cadu };

// How the carrier is modulated, and what coding protects the frames: split-phase (Manchester)
// bits phase-modulating a residual carrier, uncoded; or QPSK of a rate-3/4 punctured K=7
// convolutional code over randomized CADUs of four interleaved Reed-Solomon (255,223) codewords.
enum class Modulation { SplitPhasePm, Qpsk };
enum class Coding { None, ConvolutionalReedSolomon };

// The imaging radiometer whose scan lines a family's frames carry, and so which reader turns
// them into lines: from the HRPT minor frame's words (AVHRR, MVISR, SeaWiFS), from the MSU-MR
// frames in Meteor's CADUs, or from the AVHRR/3 packets in Metop's.
enum class Imager { HrptFrame, MsuMr, Avhrr3Packets };

// A CADU's length in bytes and its attached sync marker, first byte first.
inline constexpr int kCaduBytes = 1024;
inline constexpr std::array<std::uint8_t, 4> kCaduMarker{0x1A, 0xCF, 0xFC, 0x1D};

// The 32-bit attached sync marker, first bit in the high bit.
inline constexpr std::uint32_t kCaduMarkerWord =
    (std::uint32_t{kCaduMarker[0]} << 24) | (std::uint32_t{kCaduMarker[1]} << 16) |
    (std::uint32_t{kCaduMarker[2]} << 8) | kCaduMarker[3];

// Bit errors a marker may carry and still count. Random bits come within 3 errors of the 32-bit
// marker with odds 5489 / 2^32 = 1.3e-6 per polarity, so a hunt through noise at 665 kbit/s
// meets a false marker every half second or so; lock therefore waits for a second marker of the
// same polarity exactly one CADU later, which noise supplies once in about 5 days of hunting.
// A true marker has more than 3 errors with odds 2.9e-4 at a bit error rate of 1e-2, and in lock
// the flywheel carries the stream over such a CADU anyway.
inline constexpr int kCaduMarkerBitErrors = 3;
inline constexpr int kCaduMarkerBitCount = static_cast<int>(kCaduMarker.size()) * 8;

// Where the instrument's samples and the time code lie in one HRPT minor frame. Word indices
// count from 0 at the first frame-sync word (the format documents count from 1).
struct HrptLayout {
  int frameWords;                // minor-frame length in 10-bit words
  int earthFirstWord;            // first earth-view sample of the scan line
  int channels;                  // samples per pixel, interleaved pixel by pixel
  int pixels;                    // pixels per scan line
  unsigned thermalChannels;      // bit c set: channel c (from 0) is a thermal infrared channel
  int timeCodeFirstWord;         // day count, then milliseconds of the day, in four words
  int framesPerSecond;           // the radiometer's scan rate: one minor frame per scan line
  std::array<int, 3> composite;  // channels (from 0) shown red, green and blue

  constexpr int earthEndWord() const { return earthFirstWord + channels * pixels; }
  // 10-bit words per second on the downlink.
  constexpr double wordsPerSecond() const {
    return static_cast<double>(frameWords) * framesPerSecond;
  }
  // Data bits per second on the downlink (before the split-phase line code doubles them).
  constexpr double bitsPerSecond() const { return wordsPerSecond() * 10.0; }
};

// NOAA, after the "NOAA KLM User's Guide", HRPT minor frame format: 11090 words; frame sync in
// words 1-6, identification 7-8, time code 9-12, telemetry 13-22, back scan 23-52, space view
// 53-102, TIP 104-623, the AVHRR's five channels interleaved pixel by pixel in words 751-10990,
// and 100 auxiliary sync words to the end. Channels 3 to 5 are thermal (3.7, 10.8, 12 um). The
// composite is the customary 2-2-4: near infrared as red and green, the inverted 10.8 um
// channel as blue, so land is yellow-brown, sea dark and cold cloud white.
inline constexpr HrptLayout kNoaaHrpt{11090, 750, 5, 2048, 0b11100, 8, 6, {1, 1, 3}};

// FengYun 1C, after the National Satellite Meteorological Center's description of the FY-1C/D
// CHRPT downlink (the NOAA format with twice the channels): the NOAA frame doubled to 22180 words
// at twice the bit rate, the same header words, and the MVISR's ten channels of 2048 pixels
// interleaved from word 1601. Channels 4 and 5 are the thermal pair (10.8, 12 um); channel 3 (3.7
// um) is taken as its daytime, reflected-light picture. Composite as for NOAA: 2-2-4.
inline constexpr HrptLayout kFengYunHrpt{22180, 1600, 10, 2048, 0b11000, 8, 6, {1, 1, 3}};

// SeaStar, after the SeaWiFS HRPT (LAC) format of the "SeaWiFS Technical Report Series": an
// 11090-word frame with the NOAA header words and the eight visible and near-infrared bands of
// 1285 pixels interleaved from word 705. No thermal band. The composite is true colour:
// 670 nm (band 6) red, 555 nm (band 5) green, 443 nm (band 2) blue.
inline constexpr HrptLayout kSeaStarHrpt{11090, 704, 8, 1285, 0, 8, 6, {5, 4, 1}};

// Meteor-M, after the public descriptions of its HRPT downlink: CADUs of 1024 bytes (so here
// `frameWords` counts bytes, and the sample and time-code positions do not apply: the MSU-MR
// reader in src/imaging finds its frames inside the CADUs). The MSU-MR imager scans six lines a
// second in six channels of 1572 pixels; channels 4 to 6 are thermal (3.8, 11, 12 um). The
// composite is Meteor users' customary 2-2-1: near infrared as red and green, visible as blue.
inline constexpr HrptLayout kMeteorCadu{kCaduBytes, 0, 6, 1572, 0b111000, -1, 6, {1, 1, 0}};

// Metop, after the public descriptions of its AHRPT downlink: CADUs of 1024 bytes (as for
// Meteor, `frameWords` counts bytes) carrying CCSDS packets; the AVHRR/3 of the NOAA family,
// five channels of 2048 pixels (channel 3 is 3A by day, 3B by night, as each line's packet
// says), six lines a second. The composite is NOAA's 2-2-4.
inline constexpr HrptLayout kMetopCadu{kCaduBytes, 0, 5, 2048, 0b11100, -1, 6, {1, 1, 3}};

// Where a family's two quick-look channels lie in a minor frame: word indices from the first
// frame-sync word, sample k of a row at first + k * step. A CADU family's quick look comes from
// its imager's lines instead: A and B are then channel numbers (from 0), and step is unused.
struct QuickLookGeometry {
  int firstWordA;
  int firstWordB;
  int step;
};

// Everything that differs by family.
struct FamilyFacts {
  SatelliteFamily family;
  const char* name;  // as image records name it
  FrameKind frameKind;
  Modulation modulation;
  Coding coding;
  Imager imager;
  double bitRate;     // data bits per second: before the line code, or after decoding
  double symbolRate;  // channel symbols per second: split-phase chips, or QPSK symbols
  HrptLayout layout;
  std::uint32_t syncStartCode;  // the synchronizer's acquisition mode
  int receiverMode;             // receiver mode command number that demodulates it
  const char* fileCode;         // capture-file code; empty: "N" and the NOAA number
  const char* pruningPattern;   // the family's captures on disk
  const char* postProcessor;    // started with each finished capture
  QuickLookGeometry quickLook;
  // The QPSK families' root-raised-cosine roll-off (0.5 is the figure commonly quoted for
  // Metop; no primary source was at hand), and so their matched filter's.
  double rollOff = 0.0;
};

// Indexed by SatelliteFamily. FengYun 1C shares the NOAA frame sync, so the synchronizer's NOAA
// mode acquires it. NOAA quick looks: earth data from word 750, five AVHRR channels per pixel,
// channels 2 and 5. Meteor's split-phase PM at the NOAA bit rate is what the receiver's NOAA
// mode and the synchronizer's NOAA mode demodulate; its quick look comes from the MSU-MR lines
// inside the CADUs, not from word positions.
inline constexpr std::array<FamilyFacts, 5> kFamilies{{
    {SatelliteFamily::Noaa,
     "noaa",
     FrameKind::HrptWords,
     Modulation::SplitPhasePm,
     Coding::None,
     Imager::HrptFrame,
     665400.0,
     1330800.0,
     kNoaaHrpt,
     IOCTL_SYNC_START_NOAA,
     3,
     "",
     "*.N*",
     "ppnoaa.exe",
     {751, 754, 65}},
    {SatelliteFamily::FengYun,
     "fengyun",
     FrameKind::HrptWords,
     Modulation::SplitPhasePm,
     Coding::None,
     Imager::HrptFrame,
     1330800.0,
     2661600.0,
     kFengYunHrpt,
     IOCTL_SYNC_START_NOAA,
     5,
     "fy1",
     "*.fy1",
     "ppfy1c.exe",
     {1602, 1604, 130}},
    {SatelliteFamily::SeaStar,
     "seastar",
     FrameKind::HrptWords,
     Modulation::SplitPhasePm,
     Coding::None,
     Imager::HrptFrame,
     665400.0,
     1330800.0,
     kSeaStarHrpt,
     IOCTL_SYNC_START_SEASTAR,
     3,
     "str",
     "*.str",
     "ppsea.exe",
     {704, 708, 64}},
    {SatelliteFamily::Meteor,
     "meteor",
     FrameKind::Cadu,
     Modulation::SplitPhasePm,
     Coding::None,
     Imager::MsuMr,
     665400.0,
     1330800.0,
     kMeteorCadu,
     IOCTL_SYNC_START_NOAA,
     3,
     "mtr",
     "*.mtr.cadu",
     "ppmeteor.exe",
     {1, 4, 0}},
    // 2,333,333 QPSK symbols a second carry 4,666,667 code bits, 3,500,000 data bits at rate
    // 3/4. No board mode receives it.
    {SatelliteFamily::Metop,
     "metop",
     FrameKind::Cadu,
     Modulation::Qpsk,
     Coding::ConvolutionalReedSolomon,
     Imager::Avhrr3Packets,
     3500000.0,
     7000000.0 / 3.0,
     kMetopCadu,
     IOCTL_SYNC_START_NOAA,
     3,
     "mtp",
     "*.mtp.cadu",
     "ppmetop.exe",
     {1, 3, 0},
     0.5},
}};

constexpr const FamilyFacts& FactsOf(SatelliteFamily family) {
  return kFamilies[static_cast<std::size_t>(family)];
}

// Frame length in words of a family's HRPT minor frame.
constexpr std::int32_t FamilyFrameLength(SatelliteFamily family) {
  return FactsOf(family).layout.frameWords;
}

inline constexpr std::int32_t kNoaaFrameWords = FamilyFrameLength(SatelliteFamily::Noaa);
// The longest frame of any family: what every frame buffer must hold.
inline constexpr std::int32_t kLongestFrameWords = FamilyFrameLength(SatelliteFamily::FengYun);

// Data bits per second on a family's downlink.
constexpr double FamilyBitRate(SatelliteFamily family) {
  return FactsOf(family).bitRate;
}

// How far from nadir a family's imager scans, degrees each side: its first and last samples
// look this far off nadir, the samples between evenly spaced in angle. AVHRR (NOAA, Metop) and
// FengYun's MVISR +/-55.4 (the NOAA KLM User's Guide); SeaWiFS LAC +/-58.3 (the SeaWiFS
// Technical Report Series); MSU-MR +/-54, which at Meteor-M's 830 km gives the 2700-2800 km
// swath its public descriptions state.
constexpr double ScanHalfAngleDegrees(SatelliteFamily family) {
  switch (family) {
    case SatelliteFamily::SeaStar:
      return 58.3;
    case SatelliteFamily::Meteor:
      return 54.0;
    case SatelliteFamily::Noaa:
    case SatelliteFamily::FengYun:
    case SatelliteFamily::Metop:
      break;
  }
  return 55.4;
}

constexpr bool FamilyTableHolds() {
  for (std::size_t i = 0; i < kFamilies.size(); ++i) {
    const HrptLayout& layout = kFamilies[i].layout;
    if (static_cast<std::size_t>(kFamilies[i].family) != i) return false;
    if (layout.frameWords > kLongestFrameWords) return false;
    if (kFamilies[i].frameKind == FrameKind::Cadu) continue;
    if (layout.bitsPerSecond() != kFamilies[i].bitRate) return false;
    // The last words of every frame carry the pseudo-noise pattern the bit error rate is
    // counted against.
    if (layout.earthEndWord() > layout.frameWords - kPnTableWords) return false;
  }
  return true;
}
static_assert(FamilyTableHolds());
static_assert(kNoaaHrpt.bitsPerSecond() == 665400.0 && kFengYunHrpt.bitsPerSecond() == 1330800.0);

// One satellite's downlink: its carrier and its family.
struct Downlink {
  const char* name;     // matched whole, ignoring the case of ASCII letters (see DownlinkFor)
  double frequencyMHz;  // the carrier; the receiver is tuned by its whole MHz
  SatelliteFamily family;
  int catalogueNumber = 0;  // in the element sets; 0: recognised by name only
};

inline constexpr std::array<Downlink, 16> kDownlinks{{
    {"noaa 9", 1707.0, SatelliteFamily::Noaa},
    {"noaa 10", 1698.0, SatelliteFamily::Noaa},
    {"noaa 11", 1707.0, SatelliteFamily::Noaa},
    {"noaa 12", 1698.0, SatelliteFamily::Noaa},
    {"noaa 13", 1707.0, SatelliteFamily::Noaa},
    {"noaa 14", 1707.0, SatelliteFamily::Noaa},
    {"noaa 15", 1702.5, SatelliteFamily::Noaa},
    {"noaa 16", 1698.0, SatelliteFamily::Noaa},
    {"orbview 2 (seastar)", 1702.5, SatelliteFamily::SeaStar},
    {"orbview 2", 1702.5, SatelliteFamily::SeaStar},
    {"seastar", 1702.5, SatelliteFamily::SeaStar},
    {"fengyun 1c", 1700.5, SatelliteFamily::FengYun},
    // Both Meteors send on 1700.0 MHz: the MSU-MR serial in the imagery tells them apart.
    {"meteor-m2 3", 1700.0, SatelliteFamily::Meteor, 57166},
    {"meteor-m2 4", 1700.0, SatelliteFamily::Meteor, 59051},
    {"metop-b", 1701.3, SatelliteFamily::Metop, 38771},
    {"metop-c", 1701.3, SatelliteFamily::Metop, 43689},
}};

// The downlink of a satellite name (first match), or nothing for a name the table does not hold.
// Today's satellites are also known by their names' letters and digits alone ("METEOR-M 2-3").
std::optional<Downlink> DownlinkFor(std::string_view name);
// The same, also recognising a satellite by its catalogue number when its element set names it
// otherwise ("METEOR-M N2-3", say).
std::optional<Downlink> DownlinkFor(std::string_view name, int catalogueNumber);

// The family of a satellite, by name; unknown names are NOAA-like.
SatelliteFamily FamilyForSatellite(std::string_view name);

// The family a capture-file code ("fy1", "str", "N15", ... letter case ignored) belongs to;
// codes of no other family are NOAA's.
SatelliteFamily FamilyForFileCode(std::string_view code);

}  // namespace halvik
