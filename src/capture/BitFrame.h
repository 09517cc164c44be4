#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "capture/Avhrr3.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureShared.h"
#include "capture/FrameRing.h"
#include "capture/MsuMr.h"
#include "capture/QuickLook.h"
#include "devices/FrameSource.h"
#include "devices/HrptFormat.h"

namespace halvik {

class Clock;
class Messages;
class ProcessSpawner;
class SystemInfo;

inline constexpr int kCaptureThreadPriority = 31;
// Frames in a row with sync before recording starts, and after a resync.
inline constexpr int kAcquireThreshold = 30;
inline constexpr int kResyncThreshold = 2;
// Frames in a row without sync before loss of lock is declared.
inline constexpr int kLossThreshold = 30;

// True when the frame's first six words are exactly the frame-sync words.
bool HasFrameSync(const std::uint16_t* frame);
// The same for a frame of either kind: a CADU opens with its marker, a few bit errors allowed.
bool HasFrameSync(const std::uint16_t* frame, FrameKind kind);

// Bit errors in bits 0..9 of a frame's last 100 words against the pseudo-noise table.
int CountBitErrors(const std::uint16_t* frame, std::int32_t frameLength,
                   const std::array<std::uint16_t, kPnTableWords>& table);

// Everything the capture thread reaches, handed in by whoever starts it.
struct CaptureEngineContext {
  FrameSource& frames;  // the synchronizer board, or a demodulator's stream
  Clock& clock;
  Messages& messages;
  SystemInfo& systemInfo;
  ProcessSpawner& spawner;
  std::filesystem::path workingDirectory;  // pn.fil, elements.dat, capture files, programs
  CaptureHandOff& handOff;
  CaptureStatus& status;
  QuickLookBuffer& quickLook;
  const std::atomic<std::int32_t>& CaptureThreadStop;
  // A disk that fills up (tests, simulated stations); nullptr: only the real disk limits.
  DiskBudget* diskBudget = nullptr;
  // Memory the engine may take for its buffers; beyond it an allocation fails, as on a machine
  // short of memory. Nothing: whatever the system gives.
  std::optional<std::size_t> memoryLimitBytes{};
  // Tests run the engine on their own thread and keep its priority.
  bool raiseThreadPriority = true;
};

// The capture thread: reads the synchronizer without pause and records each armed pass.
// Run() is the thread procedure; Begin(), Cycle() and End() are its three parts, so a test can
// drive the loop one synchronizer block at a time.
class CaptureEngine {
 public:
  explicit CaptureEngine(CaptureEngineContext context);
  ~CaptureEngine();
  CaptureEngine(const CaptureEngine&) = delete;
  CaptureEngine& operator=(const CaptureEngine&) = delete;

  // Begin, the loop until it is left, End; returns 0.
  int Run();

  // The thread's start-up. False after a fatal failure (already shown): go to End.
  bool Begin();
  // One loop cycle: one block read and acted on. False when the loop is left (stop flag set,
  // or a failed read). A stop flag seen with a capture open finishes the capture first.
  bool Cycle();
  // Closes what is open, waits for CaptureThreadStop (every 500 ms), closes the device.
  void End();

  // What a test looks at.
  const FrameRing& ring() const { return ring_; }
  const CaptureFile& file() const { return file_; }
  std::int32_t SyncRunCount() const { return syncRunCount_; }
  std::int32_t NoSyncRunCount() const { return noSyncRunCount_; }
  bool PnTableLoaded() const { return pnTableLoaded_; }
  bool FramesWritten() const { return framesWritten_; }

 private:
  bool Allocate(std::size_t bytes);
  void LoadPnTable();
  void SetState(CaptureStateValue state);
  void Restart();
  void Assemble(std::size_t words);
  bool SyncAcquired(int threshold, const std::uint16_t* frame);
  bool SyncLost(int threshold, const std::uint16_t* frame);
  void AddToQuickLook(const std::uint16_t* frame);
  FrameKind FrameKindNow() const { return FactsOf(ring_.family()).frameKind; }
  void UpdateBitErrors(const std::uint16_t* frame);
  void OutOfDisk();
  void WriteMarkerOrSuspend(MarkerKind kind, int count);
  // A coded pass: hands the file the decoder's work since the pass began.
  void NoteCoding();

  void WaitForSatellite();
  void SetUpCapture();
  void WaitForData();
  void ReceiveData();
  void ResyncData();
  void CloseDownCapture();

  CaptureEngineContext context_;
  FrameSource& device_;
  bool opened_ = false;  // by Begin, until End
  FrameRing ring_;
  // A CADU family's imager lines, for the quick look.
  MsuMrReader msuMr_;
  Avhrr3Reader avhrr3_;
  CaptureFile file_;
  QuickLookCycle quickLookCycle_;
  std::unique_ptr<std::uint16_t[]> block_;
  std::size_t memoryTaken_ = 0;
  std::array<std::uint16_t, kPnTableWords> pnTable_{};
  bool pnTableLoaded_ = false;
  CaptureStateValue state_ = CaptureStateValue::WaitingForSatellite;
  std::int32_t syncRunCount_ = 0;
  std::int32_t noSyncRunCount_ = 0;
  bool framesWritten_ = false;
  std::optional<CodingTally> codingAtStart_;  // a coded pass's: the source's count at its start
};

}  // namespace halvik
