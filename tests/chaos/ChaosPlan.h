#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/CaptureFileReader.h"
#include "soak/SoakPlan.h"

namespace halvik::chaos {

// Everything the chaos run does to a running station.
enum class FaultKind {
  Kill,            // SIGKILL at any moment, restarted as on-failure does
  Terminate,       // SIGTERM (a stop), started again after the fault's time
  Reload,          // SIGHUP (the unit's reload)
  ElementsNew,     // update-elements with newer sets
  ElementsBroken,  // update-elements with a file of broken sets
  ClockStep,       // the computer's clock set forwards or backwards, and back
  DiskFull,        // the station directory's file system full, then freed
  ReadOnly,        // the station directory read-only
  ReceiverSilent,  // simulated boards
  TrackerNeverReady,
  GpsLost,
  GpsGarbage,
  SynchronizerStopped,
  SyncLostMidPass,
  RotctldKilled,  // Linux devices
  RigctldKilled,
  RotctldHung,
  GpsdGone,
  FramesDropped,
};

std::string_view FaultName(FaultKind kind);
// The kinds a run of the simulated boards (`linux` false) or of the Linux devices injects;
// `filesystem` false leaves out those that need a file system of the run's own.
std::vector<FaultKind> FaultKinds(bool linux, bool filesystem);

struct Fault {
  FaultKind kind;
  std::int64_t begin = 0;   // simulated UTC seconds
  std::int64_t end = 0;     // when the fault is taken away (begin for a single act)
  std::int64_t stepMs = 0;  // ClockStep: how far, either way
};

// Faults one after another in [from, until): the gaps drawn around `meanGapSeconds`, the kinds
// in turns of a shuffled list (so each comes about as often), durations and steps drawn per
// kind, all from `seed`. No two overlap, so what the station did is the work of one.
std::vector<Fault> PlanFaults(const std::vector<FaultKind>& kinds, std::int64_t from,
                              std::int64_t until, std::int64_t meanGapSeconds, std::uint64_t seed);

// Half-open stretches of seconds.
using Span = std::pair<double, double>;
// The seconds of `span` that none of `covers` covers.
double UncoveredSeconds(Span span, std::vector<Span> covers);

// The stretches in lock of a capture: from each sync-acquired marker to the next marker.
std::vector<Span> LockSpans(const CaptureFileContents& contents);

// A planned pass against the captures (with their stretches in lock, one list each) and the
// faults' windows.
struct PassAccount {
  bool captured = false;   // a good capture of its code overlaps [aos - 61, los]
  bool accounted = false;  // captured, or the windows cover all of [aos, los]
  // Of a minute after AOS to a minute before LOS (the sync's reach), the seconds that neither a
  // capture's lock nor a window covers.
  double lostSeconds = 0;
  std::optional<std::size_t> fault;  // the last window touching [aos - 61, los]
};
PassAccount AccountPass(const soak::ListedPass& pass,
                        const std::vector<soak::CaptureCheck>& captures,
                        const std::vector<std::vector<Span>>& lockSpans,
                        const std::vector<Span>& windows);

// The checksum digit of a line of a two-line element set: its digits summed, each '-' as one,
// modulo ten, over the first 68 characters.
int ElementLineChecksum(std::string_view line);
// A newer set of the same orbit: the epoch of line 1 moved on by `days` (within its year) and
// the mean anomaly of line 2 by as much as the satellite moves meanwhile, the checksums made
// right again.
std::pair<std::string, std::string> MoveEpoch(std::string_view line1, std::string_view line2,
                                              double days);

}  // namespace halvik::chaos
