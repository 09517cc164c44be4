#pragma once

#include <array>

namespace halvik {

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

// The last 100 words of every frame carry the pseudo-noise pattern the bit error rate is
// counted against.
static_assert(kNoaaHrpt.earthEndWord() <= kNoaaHrpt.frameWords - 100);
static_assert(kFengYunHrpt.earthEndWord() <= kFengYunHrpt.frameWords - 100);
static_assert(kSeaStarHrpt.earthEndWord() <= kSeaStarHrpt.frameWords - 100);

}  // namespace halvik
