#include "linuxhw/SdrFrameSource.h"

#include <algorithm>
#include <chrono>

#include "capture/BitFrame.h"
#include "linuxhw/FramePieces.h"
#include "orbit/PropagateListing.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

namespace halvik {
namespace {

// How long the demodulating thread waits for a block before it looks at its stop flag and the
// silence of the frames, in real time: it waits on the reading thread, not on the station.
constexpr auto kDemodulatorWait = std::chrono::milliseconds(100);

}  // namespace

SdrFrameSource::SdrFrameSource(std::string name, SampleSourceOpener open,
                               DemodulatorFactory demodulator, Clock& clock, Messages& messages)
    : name_(std::move(name)),
      openSource_(std::move(open)),
      makeDemodulator_(std::move(demodulator)),
      clock_(clock),
      messages_(messages),
      reconnect_(clock),
      scratch_(kSdrBlockSamples),
      blocks_(kSdrQueueBlocks),
      frame_(static_cast<std::size_t>(kLongestFrameWords)) {
  for (Block& block : blocks_) block.samples.resize(kSdrBlockSamples);
  for (FrameSlot& slot : frames_) slot.words.resize(static_cast<std::size_t>(kLongestFrameWords));
}

SdrFrameSource::~SdrFrameSource() {
  Close();
}

bool SdrFrameSource::Open() {
  if (open_) return true;
  stop_.store(false);
  ended_.store(false);
  free_.clear();
  full_.clear();
  for (Block& block : blocks_) free_.push_back(&block);
  nextFresh_ = true;
  open_ = true;
  reader_ = std::thread([this] { ReadLoop(); });
  demodulating_ = std::thread([this] { DemodulateLoop(); });
  return true;
}

bool SdrFrameSource::Close() {
  if (!open_) return true;
  stop_.store(true);
  queued_.notify_all();
  reader_.join();
  demodulating_.join();
  source_.reset();
  demodulator_.reset();
  sync_.Lose();
  open_ = false;
  return true;
}

void SdrFrameSource::Stop() {
  started_.store(false, std::memory_order_release);
  frameLeft_ = 0;
}

void SdrFrameSource::Start(SatelliteFamily family) {
  frameLeft_ = 0;
  frameWords_ = FamilyFrameLength(family);
  // What is queued was cut for whatever ran before: the capture starts at a frame yet to come.
  frameTail_.store(frameHead_.load(std::memory_order_acquire), std::memory_order_release);
  family_.store(family, std::memory_order_relaxed);
  started_.store(true, std::memory_order_release);
}

void SdrFrameSource::SetCentre(double hz) {
  centre_.store(hz, std::memory_order_relaxed);
  centreGeneration_.fetch_add(1, std::memory_order_release);
}

void SdrFrameSource::SetGain(std::optional<double> db) {
  gainAuto_.store(!db.has_value(), std::memory_order_relaxed);
  gainDb_.store(db.value_or(0.0), std::memory_order_relaxed);
  gainGenerationWanted_.fetch_add(1, std::memory_order_release);
}

std::int64_t SdrFrameSource::droppedSamples() const {
  return samplesDropped_.load(std::memory_order_relaxed) +
         sourceDropped_.load(std::memory_order_relaxed);
}

FrameRead SdrFrameSource::Read(std::span<std::uint16_t, kSyncBlockWords> block,
                               std::size_t& words) {
  words = 0;
  if (frameLeft_ == 0) {
    bool found = false;
    while (!found && started_.load(std::memory_order_acquire)) {
      const std::uint64_t tail = frameTail_.load(std::memory_order_relaxed);
      if (tail == frameHead_.load(std::memory_order_acquire)) break;
      const FrameSlot& slot = frames_[tail % kSdrFrameSlots];
      // A frame of another family's length was cut before the last Start reached the chain.
      found = slot.length == frameWords_;
      if (found) std::copy_n(slot.words.begin(), frameWords_, frame_.begin());
      frameTail_.store(tail + 1, std::memory_order_release);
    }
    if (!found) {
      clock_.SleepMs(kSdrIdleWaitMs);
      return FrameRead::NoData;
    }
    frameLeft_ = static_cast<std::size_t>(frameWords_);
  }
  words = HandOverPiece({frame_.data(), static_cast<std::size_t>(frameWords_)}, frameLeft_, block);
  return FrameRead::Data;
}

std::optional<CodingTally> SdrFrameSource::CodingWork() const {
  return CodingTally{rsCorrectedBytes_.load(std::memory_order_relaxed),
                     rsUncorrectable_.load(std::memory_order_relaxed)};
}

void SdrFrameSource::Outage(const std::string& reason) {
  if (source_) samplesDropped_.fetch_add(source_->dropped(), std::memory_order_relaxed);
  sourceDropped_.store(0, std::memory_order_relaxed);
  source_.reset();
  nextFresh_ = true;
  ebn0Db_.store(0.0, std::memory_order_relaxed);
  carrierLocked_.store(false, std::memory_order_relaxed);
  reconnect_.Failed();
  if (inOutage_) return;
  inOutage_ = true;
  outages_.fetch_add(1, std::memory_order_relaxed);
  messages_.Show("SDR " + name_ + (everRead_ ? " lost (" : " not available (") + reason +
                 "): retrying every " + std::to_string(Reconnect::kLongestPauseMs / 1000) +
                 " s at most");
}

bool SdrFrameSource::Connect() {
  if (source_) return true;
  if (!reconnect_.Due()) return false;
  std::string error;
  source_ = openSource_(error);
  if (!source_) {
    Outage(error.empty() ? "cannot be opened" : error);
    return false;
  }
  // A new device knows nothing of what the station asked of the last one.
  tunedGeneration_ = centreGeneration_.load(std::memory_order_acquire) - 1;
  gainGeneration_ = gainGenerationWanted_.load(std::memory_order_acquire) - 1;
  return true;
}

SdrFrameSource::Block* SdrFrameSource::TakeFree() {
  std::lock_guard lock(queueLock_);
  if (free_.empty()) return nullptr;
  Block* block = free_.back();
  free_.pop_back();
  return block;
}

void SdrFrameSource::Queue(Block* block) {
  {
    std::lock_guard lock(queueLock_);
    full_.push_back(block);
  }
  queued_.notify_one();
}

void SdrFrameSource::Release(Block* block) {
  std::lock_guard lock(queueLock_);
  free_.push_back(block);
}

void SdrFrameSource::Record(std::span<const Sample> samples) {
  if (!recordDir_) return;
  if (!started_.load(std::memory_order_acquire)) {
    FinishRecording();
    recordingFailed_ = false;
    return;
  }
  if (!recording_.open() && !recordingFailed_ && source_) {
    SigmfDescription description;
    description.format = SampleFormat::Cs16;
    description.sampleRate = source_->sampleRate();
    description.frequencyHz = centre_.load(std::memory_order_relaxed);
    description.firstSample = clock_.Now();
    description.hardware = name_;
    description.description = "baseband of a pass, kept beside its capture";
    // 20261210T154500Z: the time, with nothing a shell or another system would trip on.
    std::string stamp = FormatIsoUtc(static_cast<double>(description.firstSample.seconds));
    std::erase_if(stamp, [](char c) { return c == '-' || c == ':'; });
    std::string error;
    if (!recording_.Open(*recordDir_ / (kIqRecordingPrefix + stamp), description, error)) {
      recordingFailed_ = true;
      messages_.Show("Baseband recording not kept: " + error);
    }
  }
  if (recording_.open() && !samples.empty() && !recording_.Write(samples)) {
    recording_.Abandon();
    recordingFailed_ = true;
    messages_.Show("Baseband recording of " + name_ + " abandoned: it could not be written");
  }
}

void SdrFrameSource::FinishRecording() {
  if (!recording_.open()) return;
  std::string error;
  if (!recording_.Finish(error)) messages_.Show("Baseband recording not kept: " + error);
}

void SdrFrameSource::ReadLoop() {
  while (!stop_.load(std::memory_order_relaxed)) {
    if (ended_.load(std::memory_order_relaxed) || !Connect()) {
      clock_.SleepMs(kSdrIdleWaitMs * 10);
      continue;
    }
    if (const std::uint32_t wanted = centreGeneration_.load(std::memory_order_acquire);
        wanted != tunedGeneration_) {
      tunedGeneration_ = wanted;
      source_->Tune(centre_.load(std::memory_order_relaxed));
    }
    if (const std::uint32_t wanted = gainGenerationWanted_.load(std::memory_order_acquire);
        wanted != gainGeneration_) {
      gainGeneration_ = wanted;
      source_->SetGain(gainAuto_.load() ? std::nullopt : std::optional<double>(gainDb_.load()));
    }
    Block* block = TakeFree();
    std::vector<Sample>& into = block ? block->samples : scratch_;
    std::size_t count = 0;
    const SampleRead read = source_->Read(into, count);
    // Samples the device lost lie before these: the chain must not join the two sides.
    if (const std::int64_t lost = source_->dropped();
        lost != sourceDropped_.load(std::memory_order_relaxed)) {
      sourceDropped_.store(lost, std::memory_order_relaxed);
      nextFresh_ = true;
    }
    Record(std::span<const Sample>(into.data(), read == SampleRead::Data ? count : 0));
    if (read == SampleRead::Data && count > 0) {
      everRead_ = true;
      if (inOutage_) {
        inOutage_ = false;
        reconnect_.Succeeded();
      }
      if (block) {
        block->count = count;
        block->rate = source_->sampleRate();
        block->fresh = nextFresh_;
        nextFresh_ = false;
        Queue(block);
        continue;
      }
      // The demodulator is behind: these samples are lost, and the chain must know the stream
      // has a gap.
      samplesDropped_.fetch_add(static_cast<std::int64_t>(count), std::memory_order_relaxed);
      nextFresh_ = true;
      continue;
    }
    if (block) Release(block);
    if (read == SampleRead::End) {
      ended_.store(true, std::memory_order_relaxed);
      messages_.Show("SDR " + name_ + " ended: no more samples from this recording");
    } else if (read == SampleRead::Failed) {
      const std::string reason = source_->error();
      Outage(reason.empty() ? "stopped delivering samples" : reason);
    }
  }
  FinishRecording();
}

void SdrFrameSource::Deliver(std::span<const std::uint16_t> frame) {
  const bool locked = demodulator_->quality().frameSync;
  sync_.Note(HasFrameSync(frame.data(), FactsOf(family_.load(std::memory_order_relaxed)).frameKind),
             locked, clock_.MonotonicMs());
  if (!started_.load(std::memory_order_acquire)) return;
  const std::uint64_t head = frameHead_.load(std::memory_order_relaxed);
  if (head - frameTail_.load(std::memory_order_acquire) >= kSdrFrameSlots) {
    framesDropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  FrameSlot& slot = frames_[head % kSdrFrameSlots];
  std::copy(frame.begin(), frame.end(), slot.words.begin());
  slot.length = static_cast<std::int32_t>(frame.size());
  frameHead_.store(head + 1, std::memory_order_release);
}

void SdrFrameSource::DemodulateLoop() {
  const FrameDemodulator::FrameSink sink = [this](std::span<const std::uint16_t> frame) {
    Deliver(frame);
  };
  while (!stop_.load(std::memory_order_relaxed)) {
    Block* block = nullptr;
    {
      std::unique_lock lock(queueLock_);
      queued_.wait_for(lock, kDemodulatorWait,
                       [this] { return !full_.empty() || stop_.load(std::memory_order_relaxed); });
      if (!full_.empty()) {
        block = full_.front();
        full_.erase(full_.begin());
      }
    }
    if (!block) {
      sync_.CheckSilence(clock_.MonotonicMs());
      continue;
    }
    const SatelliteFamily family = family_.load(std::memory_order_relaxed);
    if (!demodulator_ || block->rate != demodulatorRate_) {
      demodulator_ = makeDemodulator_(block->rate, family);
      demodulatorRate_ = block->rate;
      demodulatorFamily_ = family;
      appliedDoppler_.reset();
      demodulatorCoding_ = {};
      sync_.Lose();
    } else if (block->fresh || family != demodulatorFamily_) {
      // A gap in the samples or another downlink: acquisition starts over.
      demodulator_->Reset(family);
      demodulatorFamily_ = family;
      appliedDoppler_.reset();
      demodulatorCoding_ = {};
      sync_.Lose();
    }
    if (const double doppler = doppler_.load(std::memory_order_relaxed);
        !appliedDoppler_ || doppler != *appliedDoppler_) {
      demodulator_->SetFrequencyCorrection(doppler);
      appliedDoppler_ = doppler;
    }
    demodulator_->Push(std::span<const Sample>(block->samples.data(), block->count), sink);
    const ReceiveQuality quality = demodulator_->quality();
    ebn0Db_.store(quality.ebn0Db, std::memory_order_relaxed);
    carrierLocked_.store(quality.carrierLocked, std::memory_order_relaxed);
    // The decoder counts from its own start; each acquisition's work is added once.
    const CodingTally coding{quality.correctedBytes, quality.uncorrectableCodewords};
    const CodingTally added = coding - demodulatorCoding_;
    rsCorrectedBytes_.fetch_add(added.correctedBytes, std::memory_order_relaxed);
    rsUncorrectable_.fetch_add(added.uncorrectableCodewords, std::memory_order_relaxed);
    demodulatorCoding_ = coding;
    Release(block);
  }
}

}  // namespace halvik
