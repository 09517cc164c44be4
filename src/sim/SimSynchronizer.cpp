#include "sim/SimSynchronizer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "devices/ControlCodes.h"
#include "sim/HrptFrame.h"

namespace halvik::sim {
namespace {

// The configuration value the station's driver sends once after opening.
constexpr std::int16_t kConfigureValue = -200;
// Bit errors never touch the sync words: the board writes the pattern it locked on.
constexpr std::size_t kSyncWordCount = kFrameSyncWords.size();

}  // namespace

SimSynchronizer::SimSynchronizer(SkyLink& sky, Clock& clock, SimSynchronizerOptions options)
    : sky_(sky),
      clock_(clock),
      options_(options),
      random_(options.seed),
      frame_(kLongestFrameWords, 0),
      frameWords_(static_cast<std::size_t>(ShapeOf(SatelliteFamily::Noaa).words)),
      noiseState_(options.seed),
      streamMs_(std::numeric_limits<double>::quiet_NaN()) {}

// The board acquires the frame sync of the mode it was started in: a family's own start code.
bool SimSynchronizer::Hears(SatelliteFamily family) const {
  if (mode_ == Mode::Stopped) return false;
  const std::uint32_t started =
      mode_ == Mode::Noaa ? IOCTL_SYNC_START_NOAA : IOCTL_SYNC_START_SEASTAR;
  return FactsOf(family).syncStartCode == started;
}

bool SimSynchronizer::Reject() {
  rejectedCalls_.fetch_add(1, std::memory_order_relaxed);
  return false;
}

bool SimSynchronizer::Control(std::uint32_t code, std::span<const std::uint8_t> input,
                              std::span<std::uint8_t> output, std::uint32_t& transferred) {
  transferred = 0;
  switch (code) {
    case IOCTL_SYNC_STOP_ACQUISITION: {
      if (!input.empty() || !output.empty()) return Reject();
      std::lock_guard lock(mutex_);
      mode_ = Mode::Stopped;
      stops_.fetch_add(1, std::memory_order_relaxed);
      return true;
    }
    case IOCTL_SYNC_CONFIGURE: {
      if (input.size() != 2 || !output.empty()) return Reject();
      auto value = static_cast<std::int16_t>(input[0] | (input[1] << 8));
      if (value != kConfigureValue) return Reject();
      configures_.fetch_add(1, std::memory_order_relaxed);
      return true;
    }
    case IOCTL_SYNC_START_NOAA:
    case IOCTL_SYNC_START_SEASTAR: {
      if (!input.empty() || !output.empty()) return Reject();
      std::lock_guard lock(mutex_);
      bool noaa = code == IOCTL_SYNC_START_NOAA;
      mode_ = noaa ? Mode::Noaa : Mode::SeaStar;
      (noaa ? noaaStarts_ : seaStarStarts_).fetch_add(1, std::memory_order_relaxed);
      // A fresh acquisition delivers from the next frame boundary on.
      framePosition_ = 0;
      frameReady_ = false;
      nextCadu_.reset();
      return true;
    }
    case IOCTL_SYNC_READ_BLOCK:
      if (!input.empty() || output.size() != kSyncBlockBytes) return Reject();
      return ReadBlock(output, transferred);
    default:
      return Reject();
  }
}

bool SimSynchronizer::ReadBlock(std::span<std::uint8_t> output, std::uint32_t& transferred) {
  double sleepMs = 0;
  {
    std::lock_guard lock(mutex_);
    std::int64_t call = readCalls_++;
    if (stopped_.load(std::memory_order_relaxed) ||
        (options_.failReadFromBlock >= 0 && call >= options_.failReadFromBlock)) {
      failedReads_.fetch_add(1, std::memory_order_relaxed);
      return false;
    }
    std::size_t words = kSyncBlockWords;
    if (options_.shortTransferFromBlock >= 0 && call >= options_.shortTransferFromBlock &&
        call < options_.shortTransferFromBlock + options_.shortTransferBlocks) {
      words = std::min<std::size_t>(options_.shortTransferBytes, kSyncBlockBytes) / 2;
    }

    DownlinkView link = sky_.Downlink();
    bool locked = link.receivable && Hears(link.family);
    if (locked && link.family != frameFamily_) {
      // Another format on the air: the board finds its frames from a boundary.
      frameFamily_ = link.family;
      frameWords_ = static_cast<std::size_t>(ShapeOf(frameFamily_).words);
      framePosition_ = 0;
      frameReady_ = false;
      nextCadu_.reset();
    }
    double wordsPerSecond = ShapeOf(locked ? link.family : SatelliteFamily::Noaa).wordsPerSecond();
    double blockMs = static_cast<double>(words) * 1000.0 / wordsPerSecond;
    auto now = static_cast<double>(clock_.MonotonicMs());
    if (std::isnan(streamMs_)) streamMs_ = now;
    // The stream runs on its own time; a late reader gets what the FIFO still holds at once.
    const double blockStartMs = std::max(streamMs_, now - options_.fifoMs);
    // When the block's first word came down, on the satellite's clock: frames carry the time
    // of their own first word, so consecutive frames are one scan period apart.
    const double blockUtcMs =
        static_cast<double>(clock_.Now().AsMilliseconds()) + (blockStartMs - now);
    Emit(link, locked, output, words, blockUtcMs, 1000.0 / wordsPerSecond);
    streamMs_ = blockStartMs + blockMs;
    sleepMs = std::ceil(streamMs_ - now);
    transferred = static_cast<std::uint32_t>(words * 2);
    blocksRead_.fetch_add(1, std::memory_order_relaxed);
  }
  if (sleepMs > 0) clock_.SleepMs(static_cast<std::int64_t>(sleepMs));
  return true;
}

void SimSynchronizer::Emit(const DownlinkView& link, bool locked, std::span<std::uint8_t> output,
                           std::size_t words, double utcMs, double msPerWord) {
  std::uint8_t* out = output.data();
  for (std::size_t i = 0; i < words;) {
    // Whole runs up to the block's end or the frame's, whichever comes first.
    const std::size_t run = std::min(words - i, frameWords_ - framePosition_);
    if (locked) {
      if (!frameReady_) {
        StartFrame(link, std::llround(utcMs + static_cast<double>(i) * msPerWord));
      }
      const std::uint16_t* from = frame_.data() + framePosition_;
      for (std::size_t k = 0; k < run; ++k, out += 2) {
        out[0] = static_cast<std::uint8_t>(from[k] & 0xFF);
        out[1] = static_cast<std::uint8_t>(from[k] >> 8);
      }
    } else {
      for (std::size_t k = 0; k < run; ++k, out += 2) {
        const std::uint16_t word = NoiseWord();
        out[0] = static_cast<std::uint8_t>(word & 0xFF);
        out[1] = static_cast<std::uint8_t>(word >> 8);
      }
    }
    i += run;
    framePosition_ += run;
    if (framePosition_ >= frameWords_) {
      framePosition_ = 0;
      frameReady_ = false;
      ++frameCounter_;
    }
  }
}

void SimSynchronizer::StartFrame(const DownlinkView& link, std::int64_t utcMs) {
  if (!link.elements) {
    earth_.reset();
  } else if (!earth_ || earthSatellite_ != link.satelliteName) {
    if (!land_) land_ = MakeLandIndex();
    earth_ = std::make_unique<EarthScene>(*link.elements, link.family, land_);
    earthSatellite_ = link.satelliteName;
  }
  if (FactsOf(link.family).frameKind == FrameKind::Cadu) {
    if (!caduStream_ || caduSatellite_ != link.satelliteName) {
      caduStream_ = MakeCaduStream(link.satelliteName);
      caduSatellite_ = link.satelliteName;
      nextCadu_.reset();
    }
    if (!nextCadu_) nextCadu_ = CaduNumberAt(link.family, static_cast<double>(utcMs));
    caduStream_->SetEarth(earth_.get());
    caduStream_->CaduWords((*nextCadu_)++, link.alongTrack, frame_);
    InjectBitErrors(link.bitErrorRate, 0, frameWords_, 8);
    frameReady_ = true;
    framesInLock_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  FrameContext context;
  context.family = link.family;
  context.frameCounter = frameCounter_;
  context.timeMs = utcMs;
  context.spacecraftAddress = SpacecraftAddress(link.satelliteName);
  context.alongTrack = link.alongTrack;
  context.earth = earth_.get();
  SynthesizeFrame(context, frame_);
  InjectBitErrors(link.bitErrorRate, kSyncWordCount, frameWords_, 10);
  frameReady_ = true;
  framesInLock_.fetch_add(1, std::memory_order_relaxed);
}

void SimSynchronizer::InjectBitErrors(double bitErrorRate, std::size_t firstWord,
                                      std::size_t endWord, int bitsPerWord) {
  if (!(bitErrorRate > 0)) return;
  const auto wordBits = static_cast<std::size_t>(bitsPerWord);
  const double totalBits = static_cast<double>((endWord - firstWord) * wordBits);
  const double logKeep = bitErrorRate >= 1 ? 0 : std::log1p(-bitErrorRate);
  // Gaps between errors are geometric, so the cost follows the number of errors, not of bits.
  auto gap = [&]() -> double {
    if (logKeep == 0) return 0;
    double u = static_cast<double>((random_() >> 11) + 1) * 0x1.0p-53;  // (0, 1]
    return std::floor(std::log(u) / logKeep);
  };
  for (double bit = gap(); bit < totalBits; bit += 1 + gap()) {
    auto index = static_cast<std::size_t>(bit);
    frame_[firstWord + index / wordBits] ^= static_cast<std::uint16_t>(1u << (index % wordBits));
  }
}

std::uint16_t SimSynchronizer::NoiseWord() {
  if (noiseWordsLeft_ == 0) {
    // splitmix64: white enough for noise at a fraction of the Mersenne Twister's cost per draw.
    std::uint64_t z = (noiseState_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    noiseBits_ = z ^ (z >> 31);
    noiseWordsLeft_ = 6;
  }
  auto word = static_cast<std::uint16_t>(noiseBits_ & 0x3FF);
  noiseBits_ >>= 10;
  --noiseWordsLeft_;
  return word;
}

SimSynchronizerCounters SimSynchronizer::counters() const {
  SimSynchronizerCounters c;
  c.blocksRead = blocksRead_.load(std::memory_order_relaxed);
  c.failedReads = failedReads_.load(std::memory_order_relaxed);
  c.noaaStarts = noaaStarts_.load(std::memory_order_relaxed);
  c.seaStarStarts = seaStarStarts_.load(std::memory_order_relaxed);
  c.stops = stops_.load(std::memory_order_relaxed);
  c.configures = configures_.load(std::memory_order_relaxed);
  c.rejectedCalls = rejectedCalls_.load(std::memory_order_relaxed);
  c.framesInLock = framesInLock_.load(std::memory_order_relaxed);
  return c;
}

}  // namespace halvik::sim
