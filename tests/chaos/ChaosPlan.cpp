#include "chaos/ChaosPlan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <variant>

namespace halvik::chaos {
namespace {

struct KindFacts {
  FaultKind kind;
  std::string_view name;
  bool simOnly;
  bool linuxOnly;
  bool filesystem;
  std::int64_t shortestSeconds;  // 0 and 0: a single act
  std::int64_t longestSeconds;
};

constexpr std::array kFacts{
    KindFacts{FaultKind::Kill, "kill -9", false, false, false, 0, 0},
    KindFacts{FaultKind::Terminate, "SIGTERM, start later", false, false, false, 30, 900},
    KindFacts{FaultKind::Reload, "SIGHUP", false, false, false, 0, 0},
    KindFacts{FaultKind::ElementsNew, "update-elements new", false, false, false, 0, 0},
    KindFacts{FaultKind::ElementsBroken, "update-elements broken", false, false, false, 0, 0},
    KindFacts{FaultKind::ClockStep, "clock stepped", false, false, false, 60, 3600},
    KindFacts{FaultKind::DiskFull, "disk full", false, false, true, 60, 3600},
    KindFacts{FaultKind::ReadOnly, "directory read-only", false, false, true, 60, 1800},
    KindFacts{FaultKind::ReceiverSilent, "receiver silent", true, false, false, 30, 1800},
    KindFacts{FaultKind::TrackerNeverReady, "tracker never ready", true, false, false, 30, 1800},
    KindFacts{FaultKind::GpsLost, "GPS lost", true, false, false, 60, 3600},
    KindFacts{FaultKind::GpsGarbage, "GPS garbage", true, false, false, 60, 3600},
    KindFacts{FaultKind::SynchronizerStopped, "synchronizer stopped", true, false, false, 30, 1800},
    KindFacts{FaultKind::SyncLostMidPass, "sync lost (fade)", true, false, false, 5, 120},
    KindFacts{FaultKind::RotctldKilled, "rotctld killed", false, true, false, 10, 600},
    KindFacts{FaultKind::RigctldKilled, "rigctld killed", false, true, false, 10, 600},
    KindFacts{FaultKind::RotctldHung, "rotctld SIGSTOP", false, true, false, 10, 600},
    KindFacts{FaultKind::GpsdGone, "gpsd gone", false, true, false, 30, 1800},
    KindFacts{FaultKind::FramesDropped, "frame stream dropped", false, true, false, 5, 300},
};

const KindFacts& FactsOf(FaultKind kind) {
  return *std::find_if(kFacts.begin(), kFacts.end(),
                       [kind](const KindFacts& f) { return f.kind == kind; });
}

}  // namespace

std::string_view FaultName(FaultKind kind) {
  return FactsOf(kind).name;
}

std::vector<FaultKind> FaultKinds(bool linux, bool filesystem) {
  std::vector<FaultKind> kinds;
  for (const KindFacts& f : kFacts) {
    if ((f.simOnly && linux) || (f.linuxOnly && !linux) || (f.filesystem && !filesystem)) continue;
    kinds.push_back(f.kind);
  }
  return kinds;
}

std::vector<Fault> PlanFaults(const std::vector<FaultKind>& kinds, std::int64_t from,
                              std::int64_t until, std::int64_t meanGapSeconds, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  auto uniform = [&random](std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(random);
  };
  std::vector<Fault> faults;
  std::vector<FaultKind> turn;
  std::int64_t at = from + uniform(0, meanGapSeconds);
  while (!kinds.empty()) {
    if (turn.empty()) {
      turn = kinds;
      std::shuffle(turn.begin(), turn.end(), random);
    }
    Fault fault{turn.back()};
    turn.pop_back();
    const KindFacts& facts = FactsOf(fault.kind);
    fault.begin = at;
    fault.end =
        at + (facts.longestSeconds > 0 ? uniform(facts.shortestSeconds, facts.longestSeconds) : 0);
    if (fault.kind == FaultKind::ClockStep) {
      // From a second to three hours, either way, spread evenly over the orders of magnitude.
      const double ms = std::pow(10.0, std::uniform_real_distribution<double>(3.0, 7.03)(random));
      fault.stepMs = static_cast<std::int64_t>(ms) * (uniform(0, 1) ? 1 : -1);
    }
    if (fault.end >= until) break;
    faults.push_back(fault);
    at = fault.end + uniform(meanGapSeconds / 2, meanGapSeconds * 3 / 2);
  }
  return faults;
}

double UncoveredSeconds(Span span, std::vector<Span> covers) {
  std::sort(covers.begin(), covers.end());
  double left = 0;
  double at = span.first;
  for (const Span& cover : covers) {
    if (cover.second <= at) continue;
    if (cover.first >= span.second) break;
    left += std::max(0.0, cover.first - at);
    at = std::max(at, cover.second);
  }
  return left + std::max(0.0, span.second - at);
}

std::vector<Span> LockSpans(const CaptureFileContents& contents) {
  std::vector<Span> spans;
  bool locked = false;
  double since = 0;
  for (const CaptureEntry& entry : contents.entries) {
    const auto* marker = std::get_if<CaptureMarker>(&entry);
    if (!marker) continue;
    const auto time = static_cast<double>(marker->time);
    if (marker->kind == MarkerKind::SyncAcquired) {
      if (!locked) since = time;
      locked = true;
    } else if (locked) {
      spans.emplace_back(since, time);
      locked = false;
    }
  }
  return spans;
}

PassAccount AccountPass(const soak::ListedPass& pass,
                        const std::vector<soak::CaptureCheck>& captures,
                        const std::vector<std::vector<Span>>& lockSpans,
                        const std::vector<Span>& windows) {
  PassAccount account;
  std::vector<Span> covers = windows;
  for (std::size_t i = 0; i < captures.size() && i < lockSpans.size(); ++i) {
    const soak::CaptureCheck& c = captures[i];
    if (c.code != pass.code || !c.fault.empty() || c.endTime < pass.aos - 61 ||
        c.acquiredTime > pass.los) {
      continue;
    }
    account.captured = true;
    covers.insert(covers.end(), lockSpans[i].begin(), lockSpans[i].end());
  }
  const Span whole{static_cast<double>(pass.aos), static_cast<double>(pass.los)};
  account.accounted = account.captured || UncoveredSeconds(whole, windows) == 0;
  account.lostSeconds = UncoveredSeconds({whole.first + 60, whole.second - 60}, covers);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (windows[i].first <= whole.second && windows[i].second >= whole.first - 61) {
      account.fault = i;
    }
  }
  return account;
}

int ElementLineChecksum(std::string_view line) {
  int sum = 0;
  for (char c : line.substr(0, 68)) {
    if (c >= '0' && c <= '9') sum += c - '0';
    if (c == '-') sum += 1;
  }
  return sum % 10;
}

std::pair<std::string, std::string> MoveEpoch(std::string_view line1, std::string_view line2,
                                              double days) {
  std::string one(line1), two(line2);
  if (one.size() < 69 || two.size() < 69) return {one, two};
  auto field = [](std::string& line, std::size_t at, std::size_t width, const char* format,
                  double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    line.replace(at, width, std::string(text).substr(0, width));
    line[68] = static_cast<char>('0' + ElementLineChecksum(line));
  };
  // Line 1 columns 21..32: day of year with fraction; line 2 columns 44..51: mean anomaly
  // (degrees), 53..63: mean motion (revolutions a day).
  const double day = std::strtod(one.substr(20, 12).c_str(), nullptr);
  const double moved = std::clamp(day + days, 1.0, 365.99999999);
  field(one, 20, 12, "%012.8f", moved);
  const double anomaly = std::strtod(two.substr(43, 8).c_str(), nullptr);
  const double motion = std::strtod(two.substr(52, 11).c_str(), nullptr);
  field(two, 43, 8, "%8.4f", std::fmod(anomaly + 360.0 * motion * (moved - day), 360.0));
  return {one, two};
}

}  // namespace halvik::chaos
