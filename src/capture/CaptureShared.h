#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "orbit/SatelliteTable.h"
#include "platform/Shared.h"

namespace halvik {

enum class CaptureStateValue : std::int32_t {
  WaitingForSatellite = 0,
  SettingUpCapture = 1,
  WaitingForData = 2,
  ReceivingData = 3,
  Resync = 4,
  ClosingDownCapture = 5,
};

// Display texts of the capture states, 35 characters each.
inline constexpr std::array<const char*, 6> kCaptureStateTexts = {
    "Waiting For Satellite              ", "Setting Up Capture                 ",
    "Waiting For Data                   ", "Receiving Data                     ",
    "Resync                             ", "Closing Down Capture               ",
};

// The number a state is exported as.
constexpr std::int32_t CaptureStateCode(CaptureStateValue state) {
  return static_cast<std::int32_t>(state);
}
// A state's display text; nullptr for a value that names no state.
constexpr const char* CaptureStateLabel(CaptureStateValue state) {
  const std::int32_t code = CaptureStateCode(state);
  if (code < 0 || code >= static_cast<std::int32_t>(kCaptureStateTexts.size())) return nullptr;
  return kCaptureStateTexts[static_cast<std::size_t>(code)];
}

// The hand-off between the tracking thread and the capture thread. The tracking thread writes
// the name and the direction, then raises CaptureStartRequest with release; the capture thread
// takes the request with acquire and then reads them. The name is a copy owned by the hand-off,
// so a slot deleted and refilled during the capture cannot change it.
struct CaptureHandOff {
  std::atomic<std::int32_t> CaptureStartRequest{0};
  std::atomic<std::int32_t> CaptureEndRequest{0};
  SharedName<kNameCapacity> CaptureSatelliteName;
  Shared<std::int32_t> QuickLookReversed{0};
  std::atomic<std::int32_t> CaptureSuspended{0};
};

// What the capture thread shows: written by it, read by the status view.
struct CaptureStatus {
  Shared<CaptureStateValue> CaptureState{CaptureStateValue::WaitingForSatellite};
  Shared<double> BitErrorCount{0.0};
  Shared<double> BitsCompared{0.0};
  // Frames lost because the ring filled up before they were taken (30 completed, none taken).
  Shared<std::int64_t> FramesOverrun{0};
  // Captures closed down so far (each armed pass that reached its end, with or without frames).
  Shared<std::int64_t> CapturesFinished{0};
  // Counts capture cycles (and idle polls after a failed start): the thread is alive.
  Shared<std::int64_t> Heartbeat{0};
  // Frames written to capture files since start-up, and those of them that carried the frame
  // sync words.
  Shared<std::int64_t> FramesWritten{0};
  Shared<std::int64_t> FramesWithSync{0};
};

inline constexpr int kQuickLookRows = 400;
inline constexpr int kQuickLookColumns = 160;
inline constexpr int kQuickLookFirstRow = 22;
inline constexpr int kQuickLookLastRow = 380;

// Two 400 x 160 grey images filled by the capture thread, drawn by the status view.
struct QuickLookBuffer {
  Shared<std::uint8_t> image[2][kQuickLookRows * kQuickLookColumns];
  Shared<std::int32_t> QuickLookLine{0};     // row being filled, 22..380; 0 before any capture
  Shared<std::int32_t> QuickLookCleared{0};  // set by the capture thread, cleared by the view

  std::uint8_t At(int imageIndex, int row, int column) const {
    return image[imageIndex][row * kQuickLookColumns + column];
  }
};

}  // namespace halvik
