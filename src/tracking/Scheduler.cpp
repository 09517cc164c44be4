#include "tracking/Scheduler.h"

#include <cmath>
#include <string>

#include "devices/Downlink.h"
#include "orbit/Sgp4.h"
#include "orbit/StationGeometry.h"
#include "platform/Units.h"

namespace halvik {

std::optional<int> DownlinkFrequency(std::string_view name) {
  std::optional<Downlink> downlink = DownlinkFor(name);
  if (!downlink) return std::nullopt;
  return static_cast<int>(downlink->frequencyMHz);
}

AosTiming ClassifyAos(const SatelliteRecord& slot, std::int64_t now) {
  std::int64_t aos = slot.aosTime.load();
  if (aos <= 0) return AosTiming::NotDue;
  std::int64_t ahead = aos - now;
  if (ahead < kDueLeadSeconds) return AosTiming::Due;
  if (ahead > kDueLeadSeconds) return AosTiming::NotDue;
  return AosTiming::AtLeadTime;
}

bool ClaimsAntenna(const SatelliteRecord& slot, std::int64_t now) {
  if (!slot.IsActive()) return false;
  return slot.inPass.load() == 1 || ClassifyAos(slot, now) == AosTiming::Due;
}

void Scheduler::ScheduleAntenna(bool reset) {
  if (reset) {
    state_.TrackingActive = 0;
    state_.SelectedSatellite = 0;
  }
  const std::int64_t now =
      CorrectedSeconds(context_.clock.Now().seconds, context_.status.ClockCorrection);

  // Selection: the lowest slot in its pass or due.
  if (state_.TrackingActive == 0) {
    int found = -1;
    for (int i = 0; i < kSlotCount && found < 0; ++i) {
      if (ClaimsAntenna(Slot(i), now)) found = i;
    }
    if (found < 0) {
      Park();
      return;
    }
    state_.SelectedSatellite = found;
    state_.TrackingActive = 1;
    context_.evaluation.PassEvaluated = 0;
  }

  const int s = state_.SelectedSatellite;
  SatelliteRecord& selected = Slot(s);
  if (!selected.IsActive()) {
    state_.TrackingActive = 0;
    context_.evaluation.PassEvaluated = 0;
  }
  const bool inPass = selected.inPass.load() == 1;
  const AosTiming timing = ClassifyAos(selected, now);
  if (!inPass && timing == AosTiming::NotDue) {
    state_.TrackingActive = 0;
    context_.evaluation.PassEvaluated = 0;
    Park();
    return;
  }
  if (state_.TrackingActive == 0) {
    Park();
    return;
  }

  // Pre-emption: a lower slot in its pass or due takes the antenna, even mid-pass. The park
  // move is sent now; the next call selects the lower slot.
  for (int j = 0; j < s; ++j) {
    if (ClaimsAntenna(Slot(j), now)) {
      state_.TrackingActive = 0;
      state_.AntennaOnPass = 0;
    }
  }
  if (state_.TrackingActive == 0) {
    Park();
    return;
  }

  const double azimuthDeg = DisplayDegrees(selected.lookAngles[0].load());
  if (inPass) {
    EvaluateOnce(s);
    context_.antenna.TrackingMove(azimuthDeg, DisplayDegrees(selected.lookAngles[1].load()));
    state_.AntennaOnPass = 1;
    FollowDoppler(selected);
  } else if (timing == AosTiming::Due) {
    // Wait at the horizon where the satellite will rise.
    EvaluateOnce(s);
    context_.antenna.TrackingMove(azimuthDeg,
                                  DisplayDegrees(context_.station.minimumElevation.load()));
    state_.AntennaOnPass = 0;
  }
  // AOS exactly at the lead time: no move this call.
}

void Scheduler::EvaluateOnce(int slot) {
  if (context_.evaluation.PassEvaluated != 0) return;
  if (evaluatePass_) evaluatePass_(slot);
  context_.antenna.SetFlip(context_.evaluation.FlipPass != 0);
}

void Scheduler::Park() {
  context_.antennaState.FlipMode = 0;
  context_.evaluation.PassEvaluated = 0;
  state_.AntennaOnPass = 0;
  // A capture suspended for want of disk space may run again once nothing is followed.
  if (context_.handOff.CaptureSuspended.load(std::memory_order_relaxed) != 0) {
    context_.handOff.CaptureSuspended.store(0, std::memory_order_relaxed);
  }
  context_.antenna.ParkMove();
}

void Scheduler::FollowDoppler(const SatelliteRecord& slot) {
  const std::optional<Downlink> downlink = DownlinkFor(slot.name.Get());
  if (!downlink) return;
  // Propagated afresh for this instant: the slot's own state may be a few prediction steps old,
  // and near the zenith the shift moves by hundreds of hertz a second.
  const SystemTime now = context_.clock.Now();
  const double tsince =
      Tsince(now.AsSeconds() + context_.status.ClockCorrection.load(), slot.epochMinutes);
  ElementSet elements = slot.Elements();
  StateVector state;
  Propagate(tsince, elements, state);
  const double rate = RangeRateKmPerS(tsince, elements.epoch1950Minutes, state.position,
                                      state.velocity, context_.station);
  context_.receiver.ReceiverDoppler(DopplerShiftHz(rate, downlink->frequencyMHz * kHzPerMhz));
}

void Scheduler::TuneForSatellite(std::string_view name) {
  if (const std::optional<Downlink> downlink = DownlinkFor(name)) {
    context_.receiver.ReceiverTuneExact(downlink->frequencyMHz);
  }
}

void Scheduler::ArmCapture(const std::function<void()>& waitTurn) {
  if (state_.AntennaOnPass != 1) return;
  if (context_.handOff.CaptureSuspended.load(std::memory_order_relaxed) != 0) return;
  SatelliteRecord& selected = Slot(state_.SelectedSatellite);
  if (!selected.IsActive()) return;
  // A geosynchronous satellite is followed but never recorded.
  if (selected.geosynchronous.load() != 0) return;

  // One copy of the name serves the tuning and the capture: the slot may be deleted and
  // refilled by the operator while the pass is recorded.
  const std::string name = selected.name.Get();
  TuneForSatellite(name);

  // The name and the direction are in place before the request is raised (release); the
  // capture engine reads them after taking the request (acquire).
  CaptureHandOff& handOff = context_.handOff;
  handOff.CaptureSatelliteName.Set(name);
  handOff.QuickLookReversed = context_.evaluation.PassNorthbound != 0 ? 1 : 0;
  handOff.CaptureEndRequest.store(0, std::memory_order_relaxed);
  handOff.CaptureStartRequest.store(1, std::memory_order_release);
  context_.status.PassesFollowed = context_.status.PassesFollowed + 1;

  // Follow the pass until the selected slot (the same one, or a lower slot that pre-empted
  // it) waits for its next AOS.
  if (selected.aosPending.load() == 0) {
    while (!context_.StopRequested()) {
      if (waitTurn) waitTurn();
      if (Slot(state_.SelectedSatellite).aosPending.load() == 1) break;
    }
  }

  handOff.CaptureEndRequest.store(1, std::memory_order_release);
  context_.receiver.ReceiverTune(ReceiverIdleFrequency);
}

}  // namespace halvik
