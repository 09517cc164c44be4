#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "orbit/SatelliteTable.h"
#include "platform/Clock.h"
#include "platform/Shared.h"
#include "tracking/TrackingContext.h"

namespace halvik {

// A satellite is due for its pass when its AOS is less than this many seconds ahead: the
// antenna then has about a minute to swing round and wait at the horizon.
inline constexpr std::int64_t kDueLeadSeconds = 61;

// The receiver frequency (whole MHz, as ReceiverTune takes it) of a satellite's downlink, or
// nothing for a name the downlink table does not hold.
std::optional<int> DownlinkFrequency(std::string_view name);

// Where a slot stands against its next AOS.
enum class AosTiming {
  Due,         // AOS less than 61 s ahead (or already past)
  AtLeadTime,  // AOS exactly 61 s ahead: neither due nor dropped
  NotDue,      // AOS more than 61 s ahead, or no AOS predicted at all
};

// A slot whose aosTime holds no predicted AOS (0 before its first search or after a failed
// one, -1 for a geosynchronous satellite below the minimum elevation) is never due: such a
// satellite must not hold the antenna, nor keep every higher slot from being followed.
AosTiming ClassifyAos(const SatelliteRecord& slot, std::int64_t now);

// An active slot that is in its pass or due: it takes the antenna from any higher slot.
bool ClaimsAntenna(const SatelliteRecord& slot, std::int64_t now);

// The scheduler's own state; written on the tracking thread, readable anywhere.
struct SchedulerState {
  Shared<std::int32_t> SelectedSatellite{0};  // slot followed, or last followed
  Shared<std::int32_t> TrackingActive{0};     // 1 while SelectedSatellite is being followed
  Shared<std::int32_t> AntennaOnPass{0};      // 1 after a tracking move inside the pass
};

// Satellite selection, antenna scheduling and the capture hand-off. Tracking thread only.
class Scheduler {
 public:
  // `evaluatePass` is the pass evaluation of the orbit model for a slot (it sets FlipPass,
  // PassNorthbound and PassEvaluated in the context's PassEvaluation).
  Scheduler(TrackingContext& context, std::function<void(int slot)> evaluatePass)
      : context_(context), evaluatePass_(std::move(evaluatePass)) {}
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // Chooses the satellite to follow and sends one antenna move (park, pre-positioning or
  // tracking); none when the selected satellite's AOS is exactly at the lead time. `reset`
  // forgets any earlier selection (once, at the end of start-up).
  void ScheduleAntenna(bool reset);

  // When the antenna has just been pointed at the selected satellite inside its pass, hands
  // the pass to the capture engine and, unless the pass is already over, runs `waitTurn` (one
  // clock tick, one prediction step, 1 ms) until the followed pass has ended, been pre-empted,
  // or the thread is told to stop; then ends the capture and returns the receiver to idle.
  // Returns at once when nothing is to be armed.
  void ArmCapture(const std::function<void()>& waitTurn);

  // Tunes the receiver to the satellite's downlink; a name not in the downlink table tunes nothing.
  void TuneForSatellite(std::string_view name);
  // Gives the receiver the Doppler shift of the followed satellite's downlink, predicted for now.
  void FollowDoppler(const SatelliteRecord& slot);

  const SchedulerState& state() const { return state_; }

 private:
  SatelliteRecord& Slot(int index) { return context_.table[static_cast<std::size_t>(index)]; }
  void EvaluateOnce(int slot);
  void Park();

  TrackingContext& context_;
  std::function<void(int)> evaluatePass_;
  SchedulerState state_;
};

}  // namespace halvik
