// A long NOAA capture (9000 scan lines, about 200 MB) into its channel images, composite,
// thumbnail and quality record. Target: <= 2 s, and peak memory beyond the pictures themselves
// of no more than about two channel images (2 x 18 MB).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/CaptureImages.h"
#include "sim/HrptFrame.h"
#include "sim/PseudoNoise.h"

namespace halvik {
namespace {

constexpr int kFrames = 9000;
constexpr int kFrameWords = 11090;
constexpr std::int64_t kStartMs = 1009972805000;  // 2002-01-02T12:00:05Z
constexpr const char* kName = "We02JanA.N15";

void PutBlock(std::FILE* file, const std::vector<std::uint16_t>& words) {
  std::vector<std::uint8_t> bytes(words.size() * 2);
  for (std::size_t i = 0; i < words.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(words[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
  }
  std::fwrite(bytes.data(), 1, bytes.size(), file);
}

std::vector<std::uint16_t> Marker(std::uint16_t kind, std::uint16_t count, std::int64_t ms) {
  std::vector<std::uint16_t> block(kFrameWords, 0);
  const auto seconds = static_cast<std::uint32_t>(ms / 1000);
  block[0] = 0x8000;
  block[1] = kind;
  block[2] = count;
  block[3] = static_cast<std::uint16_t>(seconds >> 16);
  block[4] = static_cast<std::uint16_t>(seconds & 0xFFFF);
  return block;
}

// Header with NOAA 15's element set, a sync-acquired marker, the frames of the simulated
// satellite one scan period apart, and the end marker.
void WriteCapture(const std::filesystem::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::vector<std::uint16_t> header(kFrameWords, 0);
  header[0] = header[1] = 0x8000;
  const std::string lines[] = {
      "NOAA 15", "1 25338U 98030A   02001.50000000  .00000100  00000-0  80000-4 0  9992",
      "2 25338  98.6000 100.0000 0010000 200.0000 160.0000 14.23000000 10008"};
  std::size_t w = 3;
  for (const std::string& line : lines) {
    for (char ch : line) header[w++] = static_cast<std::uint16_t>(ch);
    header[w++] = 0;
  }
  PutBlock(file, header);
  PutBlock(file, Marker(0x8100, 30, kStartMs));
  std::vector<std::uint16_t> frame(kFrameWords);
  for (int f = 0; f < kFrames; ++f) {
    sim::FrameContext context;
    context.frameCounter = static_cast<std::uint32_t>(f);
    context.timeMs = kStartMs + f * 1000 / 6;
    context.spacecraftAddress = 15;
    context.alongTrack = static_cast<double>(f) / kFrames;
    sim::SynthesizeFrame(context, frame);
    PutBlock(file, frame);
  }
  PutBlock(file, Marker(0x8300, 0, kStartMs + kFrames * 1000 / 6));
  std::fclose(file);
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void BM_ImageLongNoaaCapture(benchmark::State& state) {
  char pattern[] = "/tmp/halvik-bench-image-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  {
    std::FILE* pn = std::fopen((dir / "pn.fil").c_str(), "wb");
    const std::string bytes = sim::PseudoNoiseFileBytes();
    std::fwrite(bytes.data(), 1, bytes.size(), pn);
    std::fclose(pn);
  }
  const std::filesystem::path capture = dir / kName;
  WriteCapture(capture);
  const long before = PeakRssKb();
  bool ok = true;
  for (auto _ : state) {
    CaptureImagesResult result = MakeCaptureImages(capture, dir);
    ok = ok && result.ok;
    benchmark::DoNotOptimize(result);
  }
  const long after = PeakRssKb();
  // What the pictures take on disk: the price of the deflate settings.
  double pngBytes = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() == ".png") pngBytes += static_cast<double>(entry.file_size());
  }
  state.counters["png_MB"] = pngBytes / 1e6;
  // The pictures held while they are written: five channels of one byte per pixel.
  const double channelMb = 2048.0 * kFrames / 1e6;
  state.counters["capture_MB"] = static_cast<double>(std::filesystem::file_size(capture)) / 1e6;
  state.counters["peak_rss_MB"] = static_cast<double>(after) / 1024.0;
  state.counters["rss_before_MB"] = static_cast<double>(before) / 1024.0;
  state.counters["beyond_pictures_in_channels"] =
      (static_cast<double>(after - before) / 1024.0 * 1.048576 - 5 * channelMb) / channelMb;
  if (!ok) state.SkipWithError("MakeCaptureImages failed");
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ImageLongNoaaCapture)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace halvik
