// The capture thread's whole path per synchronizer block, against the NOAA real-time rate.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "capture/BitFrame.h"
#include "capture/CaptureShared.h"
#include "devices/ControlCodes.h"
#include "devices/Downlink.h"
#include "devices/FrameSyncDevice.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/Messages.h"
#include "platform/Spawn.h"
#include "platform/SystemInfo.h"

namespace halvik {
namespace {

constexpr double kNoaaWordsPerSecond = kNoaaHrpt.wordsPerSecond();
constexpr int kFrameWords = kNoaaFrameWords;
constexpr int kStreamFrames = 8;
// Captures are ended and started afresh after this many blocks, so the page cache holds at
// most one capture of about 67 MB.
constexpr int kBlocksPerCapture = 4096;

std::array<std::uint16_t, kPnTableWords> PseudoNoise() {
  std::array<std::uint16_t, kPnTableWords> words{};
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = static_cast<std::uint16_t>((i * 389 + 17) & 0x3FF);
  }
  return words;
}

// A board in lock: a stream of NOAA frames with sync, a varying scene and the pseudo-noise
// tail, delivered block by block from a prepared loop of frames; a start resumes at the next
// frame boundary.
class ReplayBoard final : public Device {
 public:
  ReplayBoard() : stream_(static_cast<std::size_t>(kStreamFrames) * kFrameWords) {
    auto pn = PseudoNoise();
    for (int f = 0; f < kStreamFrames; ++f) {
      std::uint16_t* frame = &stream_[static_cast<std::size_t>(f) * kFrameWords];
      std::copy(kFrameSync.begin(), kFrameSync.end(), frame);
      for (int i = 6; i < kFrameWords - kPnTableWords; ++i) {
        frame[i] = static_cast<std::uint16_t>((i * 13 + f * 101) & 0x3FF);
      }
      std::copy(pn.begin(), pn.end(), frame + kFrameWords - kPnTableWords);
    }
  }
  bool Control(std::uint32_t code, std::span<const std::uint8_t>, std::span<std::uint8_t> output,
               std::uint32_t& transferred) override {
    transferred = 0;
    if (code == IOCTL_SYNC_START_NOAA || code == IOCTL_SYNC_START_SEASTAR) {
      position_ = (position_ + kFrameWords - 1) / kFrameWords * kFrameWords % stream_.size();
      return true;
    }
    if (code != IOCTL_SYNC_READ_BLOCK) return true;
    std::size_t done = 0;
    while (done < kSyncBlockWords) {
      std::size_t n = std::min(kSyncBlockWords - done, stream_.size() - position_);
      std::memcpy(output.data() + 2 * done, &stream_[position_], 2 * n);
      done += n;
      position_ = (position_ + n) % stream_.size();
    }
    transferred = kSyncBlockBytes;
    return true;
  }

 private:
  std::vector<std::uint16_t> stream_;
  std::size_t position_ = 0;
};

class QuietMessages final : public Messages {
 public:
  void Show(const std::string&) override {}
};

class PlentyOfSpace final : public SystemInfo {
 public:
  std::optional<std::uint64_t> PhysicalMemoryBytes() override { return 1ull << 32; }
  std::optional<double> FreeBytes(const std::filesystem::path&) override { return 1e12; }
  std::string MountPoint(const std::filesystem::path&) override { return "/"; }
};

// Stands in for the post-processing program: it removes the finished capture.
class DiscardingSpawner final : public ProcessSpawner {
 public:
  bool Spawn(const std::filesystem::path&, const std::vector<std::string>& argv) override {
    std::error_code ignored;
    if (argv.size() > 1) std::filesystem::remove(argv[1], ignored);
    return true;
  }
};

class BenchDirectory {
 public:
  BenchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvik-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~BenchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void BM_CapturePath(benchmark::State& state) {
  BenchDirectory dir;
  {
    auto pn = PseudoNoise();
    std::string bytes;
    for (std::uint16_t w : pn) {
      bytes.push_back(static_cast<char>(w & 0xFF));
      bytes.push_back(static_cast<char>(w >> 8));
    }
    FILE* f = std::fopen((dir.path() / "pn.fil").c_str(), "wb");
    if (f) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  DeviceNamespace devices;
  FrameSyncDevice synchronizer{devices};
  devices.Publish(kSynchronizerDevicePath, std::make_shared<ReplayBoard>());
  ManualClock clock(SystemTime{1009972800, 0});
  QuietMessages messages;
  PlentyOfSpace systemInfo;
  DiscardingSpawner spawner;
  CaptureHandOff handOff;
  CaptureStatus status;
  auto quickLook = std::make_unique<QuickLookBuffer>();
  std::atomic<std::int32_t> stop{0};
  CaptureEngineContext context{synchronizer, clock,   messages, systemInfo, spawner,
                               dir.path(),   handOff, status,   *quickLook, stop};
  context.raiseThreadPriority = false;
  CaptureEngine engine(context);
  if (!engine.Begin()) {
    state.SkipWithError("the engine did not start");
    return;
  }
  auto arm = [&] {
    handOff.CaptureSatelliteName.Set("NOAA 14");
    handOff.QuickLookReversed.store(0);
    handOff.CaptureEndRequest.store(0);
    handOff.CaptureStartRequest.store(1, std::memory_order_release);
  };
  arm();
  std::int64_t blocks = 0;
  double framesRecorded = 0;
  auto endCapture = [&] {
    handOff.CaptureEndRequest.store(1, std::memory_order_release);
    engine.Cycle();
    framesRecorded += status.BitsCompared.load() / 1000.0;
    if (status.BitErrorCount.load() != 0) state.SkipWithError("bit errors on a clean stream");
  };
  for (auto _ : state) {
    engine.Cycle();
    if (++blocks % kBlocksPerCapture == 0) {
      endCapture();
      arm();
    }
  }
  endCapture();
  stop.store(1);
  engine.End();
  // Every block after the first 31 frames of each capture carries recorded frames.
  if (blocks >= kBlocksPerCapture && framesRecorded < 0.5 * static_cast<double>(blocks)) {
    state.SkipWithError("frames were not recorded");
  }
  state.counters["frames_recorded"] = framesRecorded;
  const double words = static_cast<double>(state.iterations()) * kSyncBlockWords;
  state.SetItemsProcessed(static_cast<std::int64_t>(words));
  state.SetBytesProcessed(static_cast<std::int64_t>(words * 2));
  state.counters["realtime_multiple"] =
      benchmark::Counter(words / kNoaaWordsPerSecond, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CapturePath)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// For comparison: one plain copy of a synchronizer block.
void BM_MemcpyBlock(benchmark::State& state) {
  std::vector<std::uint16_t> from(kSyncBlockWords, 0x155), to(kSyncBlockWords);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kSyncBlockBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  const double words = static_cast<double>(state.iterations()) * kSyncBlockWords;
  state.SetItemsProcessed(static_cast<std::int64_t>(words));
  state.SetBytesProcessed(static_cast<std::int64_t>(words * 2));
  state.counters["realtime_multiple"] =
      benchmark::Counter(words / kNoaaWordsPerSecond, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MemcpyBlock);

}  // namespace
}  // namespace halvik
