#include "sim/HrptFrame.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <vector>

#include "devices/Downlink.h"
#include "platform/Units.h"
#include "sim/EarthScene.h"
#include "sim/MeteorFrame.h"
#include "sim/PseudoNoise.h"
#include "sim/Sky.h"

namespace halvik::sim {
namespace {

// Word positions and channels come from the formats' own tables (devices/Downlink.h), so the
// frames this board sends are read back by the image maker where the formats put them.
constexpr FrameLayout FromFormat(SatelliteFamily family) {
  const HrptLayout& format = FactsOf(family).layout;
  return FrameLayout{format.frameWords,
                     format.wordsPerSecond(),
                     format.earthFirstWord,
                     format.channels,
                     format.pixels,
                     format.thermalChannels,
                     format.frameWords - kPnTableWords};
}

constexpr FrameLayout kNoaaLayout = FromFormat(SatelliteFamily::Noaa);
constexpr FrameLayout kFengYunLayout = FromFormat(SatelliteFamily::FengYun);
constexpr FrameLayout kSeaStarLayout = FromFormat(SatelliteFamily::SeaStar);

// Header words, in the NOAA minor frame's places (the other two formats share them). The
// simulation simplifies: the telemetry words hold a steady ramp, the back-scan and space views
// fixed warm and cold counts in every channel, the sync-delta word, the TIP frames and the spare
// words an alternating fill, and the auxiliary sync words at the end carry the pseudo-noise
// table the bit error rate is counted against.
constexpr int kIdFirstWord = 6;
constexpr int kTimeCodeFirstWord = 8;
constexpr int kTelemetryFirstWord = 12;
constexpr int kBackScanFirstWord = 22;
constexpr int kSpaceViewFirstWord = 52;
constexpr int kSpaceViewEndWord = 102;
static_assert(kTimeCodeFirstWord == kNoaaHrpt.timeCodeFirstWord);

// What lies under one pixel.
struct ScenePoint {
  bool land = false;
  double cloud = 0;   // 0 clear .. 1 overcast
  double relief = 0;  // -1 .. 1, brightness variation over land
};

double Clamp01(double x) {
  return x < 0 ? 0 : (x > 1 ? 1 : x);
}

// Across-track terms of one pixel: the same on every scan line, so a frame looks them up
// instead of taking five sines per pixel. The cloud pattern's two travelling waves,
// sin(2 pi (3u + 1.3v)) and sin(2 pi (4.1v - 0.7u)), are split by the angle-sum rule into these
// and the line's own terms.
struct AcrossTerms {
  double u = 0;
  double sinRelief = 0;  // sin(2 pi 17u)
  double sinCells = 0;   // sin(2 pi 9u)
  double sin3 = 0, cos3 = 0;
  double sin07 = 0, cos07 = 0;

  explicit AcrossTerms(double across)
      : u(across),
        sinRelief(std::sin(kTwoPi * 17 * across)),
        sinCells(std::sin(kTwoPi * 9 * across)),
        sin3(std::sin(kTwoPi * 3 * across)),
        cos3(std::cos(kTwoPi * 3 * across)),
        sin07(std::sin(kTwoPi * 0.7 * across)),
        cos07(std::cos(kTwoPi * 0.7 * across)) {}
};

// One table per scan-line width (2048, 1285 or 1572 pixels), made once and only read after.
const std::vector<AcrossTerms>& AcrossTable(int pixels) {
  auto make = [](int n) {
    std::vector<AcrossTerms> table;
    table.reserve(static_cast<std::size_t>(n));
    const double last = static_cast<double>(n - 1);
    for (int pixel = 0; pixel < n; ++pixel) table.emplace_back(pixel / last);
    return table;
  };
  static const std::vector<AcrossTerms> noaa = make(kNoaaLayout.pixels);
  static const std::vector<AcrossTerms> seaStar = make(kSeaStarLayout.pixels);
  static const std::vector<AcrossTerms> meteor = make(kMeteorCadu.pixels);
  static_assert(kFengYunLayout.pixels == kNoaaLayout.pixels);
  if (pixels == kMeteorCadu.pixels) return meteor;
  return pixels == kSeaStarLayout.pixels ? seaStar : noaa;
}

// Along-track terms are the same for the whole scan line, so they are computed once per frame.
struct AlongTerms {
  double along;
  double coast;  // across-track position of the coastline
  double cloudFront;
  double sinRelief;
  double sinCells;
  double sin13, cos13;  // sin, cos(2 pi 1.3v)
  double sin41, cos41;  // sin, cos(2 pi 4.1v)

  explicit AlongTerms(double v)
      : along(v),
        coast(0.30 + 0.30 * v + 0.05 * std::sin(kTwoPi * 2.5 * v) +
              0.02 * std::sin(kTwoPi * 9 * v)),
        cloudFront(Clamp01((v - 0.55) / 0.10)),
        sinRelief(std::sin(kTwoPi * 13 * v)),
        sinCells(std::sin(kTwoPi * 11 * v)),
        sin13(std::sin(kTwoPi * 1.3 * v)),
        cos13(std::cos(kTwoPi * 1.3 * v)),
        sin41(std::sin(kTwoPi * 4.1 * v)),
        cos41(std::cos(kTwoPi * 4.1 * v)) {}
};

ScenePoint PointAt(const AcrossTerms& x, const AlongTerms& a) {
  ScenePoint p;
  double du = (x.u - 0.75) / 0.07;
  double dv = (a.along - 0.30) / 0.05;
  p.land = x.u < a.coast || du * du + dv * dv < 1.0;
  if (p.land) p.relief = x.sinRelief * a.sinRelief;
  if (a.cloudFront > 0) {
    double pattern =
        0.5 * ((x.sin3 * a.cos13 + x.cos3 * a.sin13) + (a.sin41 * x.cos07 - a.cos41 * x.sin07)) +
        0.35 * x.sinCells * a.sinCells;
    p.cloud = Clamp01((pattern - 0.1) / 0.5) * a.cloudFront;
  }
  return p;
}

// 10-bit counts. Visible channels: dark sea, grey land, white cloud. Thermal channels: counts
// rise as the scene gets colder, so cold cloud tops are brightest there too.
double ValueOf(const ScenePoint& p, bool thermal) {
  double surface =
      thermal ? (p.land ? 470 + 30 * p.relief : 560) : (p.land ? 400 + 60 * p.relief : 60);
  double cloud = thermal ? 900 : 880;
  return surface * (1 - p.cloud) + cloud * p.cloud;
}

std::uint16_t ToWord(long counts) {
  return static_cast<std::uint16_t>(std::clamp(counts, 0L, 1023L));
}

// A small fixed-pattern jitter per sample so the picture is not flat; no random state needed.
int Jitter(std::uint32_t pixel, std::uint32_t channel, std::uint32_t frame) {
  std::uint32_t h = pixel * 0x9E3779B1u ^ channel * 0x85EBCA77u ^ frame * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return static_cast<int>(h & 0x1F) - 16;
}

void WriteTimeCode(std::int64_t timeMs, std::span<std::uint16_t> out) {
  std::int64_t days = timeMs >= 0 ? timeMs / 86400000 : (timeMs - 86399999) / 86400000;
  auto msOfDay = static_cast<std::uint32_t>(timeMs - days * 86400000);
  std::time_t seconds = static_cast<std::time_t>(days * 86400);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  auto dayOfYear = static_cast<std::uint32_t>(utc.tm_yday + 1);
  out[kTimeCodeFirstWord] = static_cast<std::uint16_t>((dayOfYear & 0x1FF) << 1);
  out[kTimeCodeFirstWord + 1] = static_cast<std::uint16_t>((msOfDay >> 20) & 0x7F);
  out[kTimeCodeFirstWord + 2] = static_cast<std::uint16_t>((msOfDay >> 10) & 0x3FF);
  out[kTimeCodeFirstWord + 3] = static_cast<std::uint16_t>(msOfDay & 0x3FF);
}

}  // namespace

const FrameLayout& LayoutFor(SatelliteFamily family) {
  switch (family) {
    case SatelliteFamily::FengYun:
      return kFengYunLayout;
    case SatelliteFamily::SeaStar:
      return kSeaStarLayout;
    case SatelliteFamily::Noaa:
    case SatelliteFamily::Meteor:  // CADUs have no minor-frame layout
    case SatelliteFamily::Metop:
      break;
  }
  return kNoaaLayout;
}

FrameShape ShapeOf(SatelliteFamily family) {
  const FamilyFacts& facts = FactsOf(family);
  if (facts.frameKind == FrameKind::Cadu) return {kCaduBytes, 8, facts.bitRate};
  return {LayoutFor(family).frameWords, 10, facts.bitRate};
}

std::uint16_t SceneCount(bool land, double relief, double cloud, bool thermal) {
  return ToWord(std::lround(ValueOf({land, cloud, relief}, thermal)));
}

std::uint16_t SceneSample(bool thermal, double across, double along) {
  return ToWord(std::lround(ValueOf(PointAt(AcrossTerms(across), AlongTerms(along)), thermal)));
}

void SceneLine(double along, std::span<std::uint16_t> visible, std::span<std::uint16_t> thermal) {
  const auto pixels = static_cast<int>(visible.size());
  const AlongTerms terms(Clamp01(along));
  // The tables hold the widths of the formats; another width takes its terms pixel by pixel.
  const std::vector<AcrossTerms>& table = AcrossTable(pixels);
  const bool tabled = static_cast<int>(table.size()) == pixels;
  for (int pixel = 0; pixel < pixels; ++pixel) {
    const ScenePoint point =
        PointAt(tabled ? table[static_cast<std::size_t>(pixel)]
                       : AcrossTerms(pixels > 1 ? pixel / static_cast<double>(pixels - 1) : 0.0),
                terms);
    visible[static_cast<std::size_t>(pixel)] = ToWord(std::lround(ValueOf(point, false)));
    thermal[static_cast<std::size_t>(pixel)] = ToWord(std::lround(ValueOf(point, true)));
  }
}

void SynthesizeFrame(const FrameContext& context, std::span<std::uint16_t> out) {
  const FrameLayout& layout = LayoutFor(context.family);
  std::span<std::uint16_t> frame = out.first(static_cast<std::size_t>(layout.frameWords));
  std::fill(frame.begin(), frame.end(), std::uint16_t{0});

  std::copy(kFrameSyncWords.begin(), kFrameSyncWords.end(), frame.begin());
  // Minor-frame number 1..3 of the major frame, and the spacecraft address.
  frame[kIdFirstWord] = static_cast<std::uint16_t>(((context.frameCounter % 3 + 1) << 8) |
                                                   ((context.spacecraftAddress & 0xF) << 3));
  WriteTimeCode(context.timeMs, frame);

  // Telemetry: calibration ramp and platinum-thermometer readings, steady over a pass.
  for (int i = kTelemetryFirstWord; i < kBackScanFirstWord; ++i)
    frame[i] = static_cast<std::uint16_t>(0x1F0 + 7 * (i - kTelemetryFirstWord));
  // Internal calibration target (warm) and deep space (cold) views.
  for (int i = kBackScanFirstWord; i < kSpaceViewFirstWord; ++i)
    frame[i] = static_cast<std::uint16_t>(0x3A0 + (i % 5));
  for (int i = kSpaceViewFirstWord; i < kSpaceViewEndWord; ++i)
    frame[i] = static_cast<std::uint16_t>(0x028 + (i % 5));
  // Housekeeping and spare words carry the alternating fill pattern.
  for (int i = kSpaceViewEndWord; i < layout.earthFirstWord; ++i)
    frame[i] = (i & 1) ? 0x2AA : 0x155;
  for (int i = layout.earthEndWord(); i < layout.pseudoNoiseFirstWord; ++i)
    frame[i] = (i & 1) ? 0x2AA : 0x155;

  // The scene's counts of the line; the jitter is whole counts, so rounding the scene once per
  // pixel rounds every sample.
  std::array<std::uint16_t, kNoaaLayout.pixels> visible{};
  std::array<std::uint16_t, kNoaaLayout.pixels> thermal{};
  static_assert(kFengYunLayout.pixels <= kNoaaLayout.pixels &&
                kSeaStarLayout.pixels <= kNoaaLayout.pixels);
  const auto pixels = static_cast<std::size_t>(layout.pixels);
  ImagerLine(context.earth, static_cast<double>(context.timeMs), context.alongTrack,
             std::span(visible).first(pixels), std::span(thermal).first(pixels));
  std::size_t w = static_cast<std::size_t>(layout.earthFirstWord);
  for (std::size_t pixel = 0; pixel < pixels; ++pixel) {
    for (int channel = 0; channel < layout.channels; ++channel) {
      bool isThermal = (layout.thermalChannels >> channel) & 1u;
      int jitter = Jitter(static_cast<std::uint32_t>(pixel), static_cast<std::uint32_t>(channel),
                          context.frameCounter);
      frame[w++] = ToWord((isThermal ? thermal[pixel] : visible[pixel]) + jitter);
    }
  }

  std::copy(kPseudoNoise.begin(), kPseudoNoise.end(), frame.begin() + layout.pseudoNoiseFirstWord);
}

int SpacecraftAddress(std::string_view name) {
  std::size_t end = name.size();
  while (end > 0 && !std::isdigit(static_cast<unsigned char>(name[end - 1]))) --end;
  std::size_t begin = end;
  while (begin > 0 && std::isdigit(static_cast<unsigned char>(name[begin - 1]))) --begin;
  int number = 0;
  for (std::size_t i = begin; i < end && i < begin + 4; ++i) number = number * 10 + (name[i] - '0');
  return number & 0xF;
}

std::vector<std::uint16_t> StreamFrame(std::string_view satelliteName, std::int64_t startUtcMs,
                                       std::int64_t passFrames, std::int64_t n, EarthScene* earth) {
  const SatelliteFamily family = DownlinkPlanFor(satelliteName).family;
  if (FactsOf(family).frameKind == FrameKind::Cadu) {
    // CADUs from the first that starts at `startUtcMs`; the scene runs through the pass in the
    // time of `passFrames` scan lines.
    const double passMs = static_cast<double>(std::max<std::int64_t>(passFrames, 1)) * 1000.0 /
                          FactsOf(family).layout.framesPerSecond;
    const double ms = static_cast<double>(n) * ShapeOf(family).frameSeconds() * 1000.0;
    std::vector<std::uint16_t> cadu(static_cast<std::size_t>(ShapeOf(family).words));
    const std::unique_ptr<CaduStream> stream = MakeCaduStream(satelliteName);
    stream->SetEarth(earth);
    stream->CaduWords(CaduNumberAt(family, static_cast<double>(startUtcMs)) + n,
                      std::fmod(ms, passMs) / passMs, cadu);
    return cadu;
  }
  FrameContext context;
  context.family = family;
  context.frameCounter = static_cast<std::uint32_t>(n);
  context.timeMs = startUtcMs + n * 1000 / kNoaaHrpt.framesPerSecond;
  context.spacecraftAddress = SpacecraftAddress(satelliteName);
  const std::int64_t frames = std::max<std::int64_t>(passFrames, 1);
  context.alongTrack = static_cast<double>(n % frames) / static_cast<double>(frames);
  context.earth = earth;
  std::vector<std::uint16_t> frame(static_cast<std::size_t>(LayoutFor(context.family).frameWords));
  SynthesizeFrame(context, frame);
  return frame;
}

}  // namespace halvik::sim
