#include "capture/BitFrame.h"

#include <pthread.h>

#include <bit>
#include <cstdio>
#include <new>

#include "capture/ThreadPriority.h"
#include "config/StationFileNames.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Messages.h"

namespace halvik {
namespace {

constexpr std::uint16_t kTenBits = 0x3FF;
constexpr double kBitsPerComparison = kPnTableWords * 10.0;
constexpr std::int64_t kIdlePollMs = 500;

}  // namespace

bool HasFrameSync(const std::uint16_t* frame) {
  for (std::size_t i = 0; i < kFrameSync.size(); ++i) {
    if (frame[i] != kFrameSync[i]) return false;
  }
  return true;
}

bool HasFrameSync(const std::uint16_t* frame, FrameKind kind) {
  if (kind == FrameKind::Cadu) return CaduMarkerErrors(frame) <= kCaduMarkerBitErrors;
  return HasFrameSync(frame);
}

int CountBitErrors(const std::uint16_t* frame, std::int32_t frameLength,
                   const std::array<std::uint16_t, kPnTableWords>& table) {
  // The frame ends in the pseudo-noise words; only the ten HRPT bits of each count.
  const std::uint16_t* tail = frame + (frameLength - kPnTableWords);
  int errors = 0;
  for (int i = 0; i < kPnTableWords; ++i) {
    errors += std::popcount(static_cast<unsigned>((tail[i] ^ table[i]) & kTenBits));
  }
  return errors;
}

CaptureEngine::CaptureEngine(CaptureEngineContext context)
    : context_(std::move(context)),
      device_(context_.frames),
      file_(CaptureFileContext{context_.workingDirectory, context_.clock, context_.messages,
                               context_.systemInfo, context_.spawner, context_.diskBudget}) {}

CaptureEngine::~CaptureEngine() {
  // A source this engine opened and did not close (an engine dropped without End) is free again
  // for the next one.
  if (opened_ && device_.IsOpen()) device_.Close();
}

int CaptureEngine::Run() {
  if (Begin()) {
    while (Cycle()) {
    }
  }
  End();
  return 0;
}

bool CaptureEngine::Allocate(std::size_t bytes) {
  if (context_.memoryLimitBytes && memoryTaken_ + bytes > *context_.memoryLimitBytes) return false;
  memoryTaken_ += bytes;
  return true;
}

bool CaptureEngine::Begin() {
  // Recordings a crash or a kill left under their temporary names are finished first, so none
  // stays unusable and none is mistaken for this run's.
  file_.FinishLeftoverCaptures();
  context_.status.BitErrorCount.store(0.0);
  context_.status.BitsCompared.store(0.0);
  if (Allocate(kSyncBlockBytes)) block_.reset(new (std::nothrow) std::uint16_t[kSyncBlockWords]);
  if (!block_) {
    context_.messages.Show("Error Allocating Memory");
    return false;
  }
  if (!device_.Open()) {
    context_.messages.Show("Error Opening Bitframe Device");
    return false;
  }
  opened_ = true;
  device_.Configure();
  if (!Allocate(kFrameRingBytes) || !ring_.Allocate()) {
    context_.messages.Show("Error Allocating Memory");
    return false;
  }
  SetState(CaptureStateValue::WaitingForSatellite);
  syncRunCount_ = 0;
  noSyncRunCount_ = 0;
  LoadPnTable();
  Restart();
  context_.handOff.QuickLookReversed.store(1);
  if (context_.raiseThreadPriority) {
    (void)RaiseThreadPriority(pthread_self(), kCaptureThreadPriority);
  }
  return true;
}

void CaptureEngine::LoadPnTable() {
  // A directory or FIFO in the table's place is no table (and must not hold this thread).
  const UniqueFile file = OpenRegularFile(context_.workingDirectory / kPseudoNoiseFile);
  if (!file) {
    context_.messages.Show("Error Reading Pn.Dat");
    return;
  }
  std::uint8_t bytes[kPnTableWords * 2] = {};
  std::size_t got = std::fread(bytes, 1, sizeof bytes, file.get());
  // A short table: the words not in the file are 0.
  pnTable_.fill(0);
  for (std::size_t i = 0; i + 1 < got; i += 2) {
    pnTable_[i / 2] = static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8));
  }
  pnTableLoaded_ = true;
}

void CaptureEngine::End() {
  file_.CloseCaptureFile();
  ring_.Free();
  // A failed start or read leaves the thread idle, not ended, until shut-down.
  while (context_.CaptureThreadStop.load(std::memory_order_acquire) == 0) {
    // Idle by design (the station runs on without captures), not stuck: a restart by the
    // watchdog would not bring back a board that failed to start.
    context_.status.Heartbeat = context_.status.Heartbeat + 1;
    context_.clock.SleepMs(kIdlePollMs);
  }
  if (device_.IsOpen() && !device_.Close()) {
    context_.messages.Show("Failed to Close Device: BitFrame");
  }
  opened_ = false;
  block_.reset();
  memoryTaken_ = 0;
}

void CaptureEngine::SetState(CaptureStateValue state) {
  state_ = state;
  context_.status.CaptureState.store(state);
}

void CaptureEngine::Restart() {
  device_.Stop();
  ring_.ResetRing();
  syncRunCount_ = 0;
  noSyncRunCount_ = 0;
  device_.Start(ring_.family());
}

void CaptureEngine::Assemble(std::size_t words) {
  ring_.AssembleBlock(block_.get(), words);
  std::int64_t overrun = ring_.framesOverrun();
  if (overrun != context_.status.FramesOverrun.load()) context_.status.FramesOverrun.store(overrun);
}

bool CaptureEngine::SyncAcquired(int threshold, const std::uint16_t* frame) {
  syncRunCount_ = HasFrameSync(frame, FrameKindNow()) ? syncRunCount_ + 1 : 0;
  if (syncRunCount_ > threshold) return true;
  if (syncRunCount_ == 0) Restart();
  return false;
}

bool CaptureEngine::SyncLost(int threshold, const std::uint16_t* frame) {
  noSyncRunCount_ += 1;
  if (HasFrameSync(frame, FrameKindNow())) noSyncRunCount_ = 0;
  if (noSyncRunCount_ > threshold) {
    noSyncRunCount_ = 0;
    Restart();
    return true;
  }
  return false;
}

void CaptureEngine::UpdateBitErrors(const std::uint16_t* frame) {
  // A CADU family has no known pattern in its frames: its marker is the known bits.
  const bool cadu = FrameKindNow() == FrameKind::Cadu;
  if (!cadu && !pnTableLoaded_) return;
  const int errors =
      cadu ? CaduMarkerErrors(frame) : CountBitErrors(frame, ring_.FrameLength(), pnTable_);
  auto& status = context_.status;
  status.BitErrorCount.store(status.BitErrorCount.load() + errors);
  status.BitsCompared.store(status.BitsCompared.load() +
                            (cadu ? kCaduMarkerBitCount : kBitsPerComparison));
}

void CaptureEngine::AddToQuickLook(const std::uint16_t* frame) {
  const bool reversed = context_.handOff.QuickLookReversed.load() != 0;
  const Imager imager = FactsOf(ring_.family()).imager;
  if (imager == Imager::HrptFrame) {
    AddQuickLookFrame(context_.quickLook, quickLookCycle_, ring_.family(), reversed, frame);
    return;
  }
  const QuickLookGeometry channels = FactsOf(ring_.family()).quickLook;
  const std::span<const std::uint16_t, kCaduBytes> cadu(frame, kCaduBytes);
  if (imager == Imager::MsuMr && msuMr_.Push(cadu) == MsuMrEvent::Line) {
    const MsuMrLine& line = msuMr_.Line();
    const bool thermalB =
        (FactsOf(ring_.family()).layout.thermalChannels >> channels.firstWordB) & 1u;
    AddQuickLookLine(context_.quickLook, quickLookCycle_, reversed,
                     line.Channel(channels.firstWordA), line.Channel(channels.firstWordB),
                     kMsuMrPixels, thermalB && kMsuMrThermalCountsRiseWithTemperature);
  } else if (imager == Imager::Avhrr3Packets && avhrr3_.Push(cadu) == Avhrr3Event::Line) {
    // The AVHRR's thermal counts fall with warmth, as NOAA's do: shown as they come.
    const Avhrr3Line& line = avhrr3_.Line();
    AddQuickLookLine(context_.quickLook, quickLookCycle_, reversed,
                     line.Channel(channels.firstWordA), line.Channel(channels.firstWordB),
                     kAvhrrPixels, false);
  }
}

void CaptureEngine::OutOfDisk() {
  context_.handOff.CaptureSuspended.store(1, std::memory_order_release);
  SetState(CaptureStateValue::ClosingDownCapture);
  context_.messages.Show("Out of Disk Space");
}

void CaptureEngine::NoteCoding() {
  const std::optional<CodingTally> now = device_.CodingWork();
  if (codingAtStart_ && now) file_.NoteCoding(*now - *codingAtStart_);
}

void CaptureEngine::WriteMarkerOrSuspend(MarkerKind kind, int count) {
  NoteCoding();
  if (!file_.WriteMarker(kind, static_cast<std::uint16_t>(count))) OutOfDisk();
}

bool CaptureEngine::Cycle() {
  if (!block_) return false;  // Begin failed: there is no loop
  context_.status.Heartbeat = context_.status.Heartbeat + 1;
  if (context_.CaptureThreadStop.load(std::memory_order_acquire) != 0) {
    // A stop during a capture ends it as the pass's end would, whether or not the tracking
    // thread's end request got here first: end marker, final name and post-processing when
    // frames were recorded, no file when none were.
    if (state_ >= CaptureStateValue::WaitingForData) CloseDownCapture();
    device_.Stop();
    return false;
  }
  if (context_.handOff.CaptureEndRequest.load(std::memory_order_acquire) != 0 &&
      state_ >= CaptureStateValue::WaitingForData) {
    SetState(CaptureStateValue::ClosingDownCapture);
  }
  std::size_t words = 0;
  // No data yet (a stream reconnecting, say) is a block of no words: nothing is assembled.
  if (device_.Read(std::span<std::uint16_t, kSyncBlockWords>(block_.get(), kSyncBlockWords),
                   words) == FrameRead::Failed) {
    context_.messages.Show("IOCTL Failed in BitFrame");
    return false;
  }
  switch (state_) {
    case CaptureStateValue::WaitingForSatellite:
      WaitForSatellite();
      break;
    case CaptureStateValue::SettingUpCapture:
      SetUpCapture();
      break;
    case CaptureStateValue::WaitingForData:
      Assemble(words);
      WaitForData();
      break;
    case CaptureStateValue::ReceivingData:
      Assemble(words);
      ReceiveData();
      break;
    case CaptureStateValue::Resync:
      Assemble(words);
      ResyncData();
      break;
    case CaptureStateValue::ClosingDownCapture:
      CloseDownCapture();
      break;
  }
  return true;
}

void CaptureEngine::WaitForSatellite() {
  framesWritten_ = false;
  file_.CloseCaptureFile();
  Restart();
  if (context_.handOff.CaptureStartRequest.load(std::memory_order_acquire) != 0) {
    SetState(CaptureStateValue::SettingUpCapture);
    context_.handOff.CaptureStartRequest.store(0, std::memory_order_release);
  }
}

void CaptureEngine::SetUpCapture() {
  framesWritten_ = false;
  file_.CloseCaptureFile();
  Restart();  // still in the previous family's mode
  const std::string name = context_.handOff.CaptureSatelliteName.Get();
  const SatelliteFamily family = FamilyForSatellite(name);
  ring_.SetFamily(family);
  ClearQuickLook(context_.quickLook, quickLookCycle_,
                 context_.handOff.QuickLookReversed.load() != 0);
  msuMr_ = MsuMrReader{};
  avhrr3_ = Avhrr3Reader{};
  if (!file_.OpenCaptureFile(name, family)) {
    // No file to record into (already shown): the capture ends at once, without frames.
    SetState(CaptureStateValue::ClosingDownCapture);
    return;
  }
  SetState(CaptureStateValue::WaitingForData);
  context_.status.BitErrorCount.store(0.0);
  context_.status.BitsCompared.store(0.0);
  codingAtStart_.reset();
  if (FactsOf(family).coding == Coding::ConvolutionalReedSolomon)
    codingAtStart_ = device_.CodingWork();
  device_.Start(family);
}

void CaptureEngine::WaitForData() {
  // One frame per cycle; any others wait for the next blocks.
  if (!ring_.HasFrame()) return;
  const std::uint16_t* frame = ring_.TakeFrame();
  if (SyncAcquired(kAcquireThreshold, frame)) {
    SetState(CaptureStateValue::ReceivingData);
    WriteMarkerOrSuspend(MarkerKind::SyncAcquired, kAcquireThreshold);
    noSyncRunCount_ = 0;
  }
}

void CaptureEngine::ReceiveData() {
  while (state_ == CaptureStateValue::ReceivingData && ring_.HasFrame()) {
    const std::uint16_t* frame = ring_.TakeFrame();
    if (!file_.WriteFrame(frame)) {
      OutOfDisk();
      break;
    }
    framesWritten_ = true;
    context_.status.FramesWritten = context_.status.FramesWritten + 1;
    if (HasFrameSync(frame, FrameKindNow()))
      context_.status.FramesWithSync = context_.status.FramesWithSync + 1;
    AddToQuickLook(frame);
    UpdateBitErrors(frame);
    // The frame that tips the count is written too; the restart empties the ring.
    if (SyncLost(kLossThreshold, frame)) {
      SetState(CaptureStateValue::Resync);
      WriteMarkerOrSuspend(MarkerKind::SyncLost, kLossThreshold);
      syncRunCount_ = 0;
    }
  }
}

void CaptureEngine::ResyncData() {
  // Frames taken here are not written.
  while (state_ == CaptureStateValue::Resync && ring_.HasFrame()) {
    const std::uint16_t* frame = ring_.TakeFrame();
    if (SyncAcquired(kResyncThreshold, frame)) {
      SetState(CaptureStateValue::ReceivingData);
      WriteMarkerOrSuspend(MarkerKind::SyncAcquired, kResyncThreshold);
    }
  }
}

void CaptureEngine::CloseDownCapture() {
  NoteCoding();
  file_.FinishCaptureFile(framesWritten_);
  framesWritten_ = false;
  context_.handOff.CaptureEndRequest.store(0, std::memory_order_release);
  SetState(CaptureStateValue::WaitingForSatellite);
  context_.status.CapturesFinished = context_.status.CapturesFinished + 1;
}

}  // namespace halvik
