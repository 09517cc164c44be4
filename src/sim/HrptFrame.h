#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "devices/HrptFormat.h"
#include "sim/SkyLink.h"

namespace halvik::sim {

class EarthScene;

// The HRPT minor-frame sync: the first six words of every frame.
inline constexpr std::array<std::uint16_t, 6> kFrameSyncWords = kFrameSync;

// Where things lie in one minor frame of a family (word indices from 0 at the first sync word).
struct FrameLayout {
  int frameWords;            // minor-frame length
  double wordsPerSecond;     // 10-bit words per second on the downlink
  int earthFirstWord;        // first instrument sample of the scan line
  int channels;              // samples per pixel, interleaved pixel by pixel
  int pixels;                // pixels per scan line
  unsigned thermalChannels;  // bit c set: channel c is a thermal channel (clouds cold, land warm)
  int pseudoNoiseFirstWord;  // the last kPnTableWords words of the frame

  constexpr int earthEndWord() const { return earthFirstWord + channels * pixels; }
};

// NOAA: five channels of 2048 pixels from word 750, 665.4 kbit/s. FengYun 1C: ten channels of
// 2048 pixels from word 1600 at twice the rate. SeaStar: eight bands of 1285 pixels from word 704.
// The places are the formats' own (devices/Downlink.h, which cites the documents).
const FrameLayout& LayoutFor(SatelliteFamily family);

// A family's frames as the simulation sends them: HRPT minor frames of 10-bit words, or CADUs
// carried one byte a word.
struct FrameShape {
  int words;        // per frame
  int bitsPerWord;  // data bits on the downlink per word
  double bitsPerSecond;

  constexpr double wordsPerSecond() const { return bitsPerSecond / bitsPerWord; }
  constexpr double frameSeconds() const { return words * bitsPerWord / bitsPerSecond; }
};
FrameShape ShapeOf(SatelliteFamily family);

// Everything that makes one frame differ from the next.
struct FrameContext {
  SatelliteFamily family = SatelliteFamily::Noaa;
  std::uint32_t frameCounter = 0;  // minor frames since the stream began
  std::int64_t timeMs = 0;         // UTC of the frame, ms since 1970
  int spacecraftAddress = 0;       // 0..15, in the identification word
  double alongTrack = 0;           // 0..1 through the pass
  // The Earth under the satellite: the scan line is the one it sees at `timeMs`. Nothing: the
  // synthetic scene at `alongTrack`.
  EarthScene* earth = nullptr;
};

// A clean minor frame (no bit errors) into the first LayoutFor(family).frameWords words of
// `out`: sync, identification, time code, telemetry and calibration views, the synthetic scene
// and the pseudo-noise words. `out` must hold at least that many words.
void SynthesizeFrame(const FrameContext& context, std::span<std::uint16_t> out);

// The synthetic earth: a coastline that drifts across the swath along the pass, an island, and
// a cloud field over the later part of the pass. 10-bit sample of one channel at `across`
// (0 first pixel .. 1 last pixel) and `along` (0 .. 1 through the pass).
std::uint16_t SceneSample(bool thermal, double across, double along);
// One scan line of it at `along`, as wide as `visible` (and `thermal`): the visible and thermal
// counts SceneSample gives at each pixel, from the first pixel (across 0) to the last (1).
void SceneLine(double along, std::span<std::uint16_t> visible, std::span<std::uint16_t> thermal);

// The 10-bit count of what lies under a pixel: land (with `relief`, -1..1, its brightness
// variation) or sea, under `cloud` (0 clear .. 1 overcast); the synthetic scene and the simulated
// Earth (sim/EarthScene.h) paint with the same counts.
std::uint16_t SceneCount(bool land, double relief, double cloud, bool thermal);

// Identification nibble of a satellite: the number in its name ("NOAA 15" gives 15), 4 bits.
int SpacecraftAddress(std::string_view name);

// Frame `n` of a satellite's stream, six a second from `startUtcMs`, the scene running through
// the pass over `passFrames` frames (then starting over): the simulated synchronizer's clean
// minor frame, 10-bit words, the family's length. A CADU family's frame `n` is the n-th CADU
// from `startUtcMs` (ShapeOf(family).frameSeconds() apart), one byte a word, its scene running
// through the pass in the time of `passFrames` scan lines. With `earth`, the scan lines show the
// Earth under the satellite instead.
std::vector<std::uint16_t> StreamFrame(std::string_view satelliteName, std::int64_t startUtcMs,
                                       std::int64_t passFrames, std::int64_t n,
                                       EarthScene* earth = nullptr);

}  // namespace halvik::sim
