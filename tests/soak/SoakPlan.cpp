#include "soak/SoakPlan.h"

#include <algorithm>
#include <sstream>
#include <variant>

#include "capture/CaptureFile.h"
#include "orbit/PropagateListing.h"
#include "platform/Text.h"
#include "sim/HrptFrame.h"
#include "tracking/PassPriority.h"
#include "tracking/Scheduler.h"

namespace halvik::soak {
namespace {

constexpr std::int64_t kDaySeconds = 86400;

std::int64_t EndOf(const ListedPass& pass) {
  return pass.los > 0 ? pass.los : pass.aos + kDaySeconds;
}

}  // namespace

std::optional<ListedPass> ParsePassLine(std::string_view line) {
  if (line.empty() || line[0] == '#') return std::nullopt;
  std::istringstream in{std::string(line)};
  std::string slot, name, aos, los;
  if (!(in >> slot >> name >> aos >> los)) return std::nullopt;
  if (slot.empty() ||
      !std::all_of(slot.begin(), slot.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  std::optional<double> aosSeconds = ParseIsoUtc(aos);
  if (!aosSeconds) return std::nullopt;  // "geo"
  ListedPass pass;
  pass.slot = static_cast<int>(ParseLong(slot));
  std::replace(name.begin(), name.end(), '_', ' ');
  pass.name = name;
  pass.code = CaptureFileCode(name);
  pass.aos = static_cast<std::int64_t>(*aosSeconds);
  if (los != "-") {
    std::optional<double> losSeconds = ParseIsoUtc(los);
    if (!losSeconds) return std::nullopt;
    pass.los = static_cast<std::int64_t>(*losSeconds);
  }
  return pass;
}

std::vector<ListedPass> LetThrough(const std::vector<ListedPass>& passes) {
  std::vector<SlotPass> windows;
  for (const ListedPass& pass : passes) windows.push_back({pass.slot, pass.aos, pass.los});
  const std::vector<bool> followed = PriorityLetsThrough(windows);
  std::vector<ListedPass> kept;
  for (std::size_t i = 0; i < passes.size(); ++i) {
    if (followed[i]) kept.push_back(passes[i]);
  }
  return kept;
}

CaptureCheck CheckCapture(const std::string& fileName, const CaptureReadResult& read) {
  CaptureCheck check;
  check.file = fileName;
  std::size_t dot = fileName.rfind('.');
  check.code = dot == std::string::npos ? "" : fileName.substr(dot + 1);
  check.readOk = read.ok;
  const CaptureFileContents& contents = read.contents;
  check.frames = contents.totalFrames;
  auto fail = [&](std::string fault) {
    if (check.fault.empty()) check.fault = std::move(fault);
  };
  if (!read.ok) fail("read failed: " + read.error);
  if (!contents.header.found) fail("header: element set not found");
  if (contents.entries.empty()) {
    fail("no markers or frames");
    return check;
  }
  const auto* first = std::get_if<CaptureMarker>(&contents.entries.front());
  const auto* last = std::get_if<CaptureMarker>(&contents.entries.back());
  if (!first || first->kind != MarkerKind::SyncAcquired || first->count != 30) {
    fail("first entry is not sync-acquired 30");
  } else {
    check.acquiredTime = first->time;
  }
  if (!last || last->kind != MarkerKind::EndOfCapture) {
    fail("last entry is not the end marker");
  } else {
    check.endTime = last->time;
  }
  if (contents.totalFrames <= 0) fail("no frames");

  // Time in lock: from each sync-acquired marker to the next marker that ends it.
  const double rate = FramesPerSecond(check.code);
  bool locked = false;
  std::int64_t lockedSince = 0;
  for (const CaptureEntry& entry : contents.entries) {
    const auto* marker = std::get_if<CaptureMarker>(&entry);
    if (!marker) continue;
    if (marker->kind == MarkerKind::SyncAcquired) {
      if (!locked) lockedSince = marker->time;
      locked = true;
    } else if (locked) {
      check.framesExpected += static_cast<double>(marker->time - lockedSince) * rate;
      ++check.lockIntervals;
      locked = false;
    }
  }
  return check;
}

double FramesPerSecond(std::string_view code) {
  SatelliteFamily family = SatelliteFamily::Noaa;
  if (code == "fy1") family = SatelliteFamily::FengYun;
  if (code == "str") family = SatelliteFamily::SeaStar;
  const sim::FrameLayout& layout = sim::LayoutFor(family);
  return layout.wordsPerSecond / layout.frameWords;
}

bool HoldsEnoughFrames(const CaptureCheck& check) {
  const double slack = check.lockIntervals * FramesPerSecond(check.code);
  return static_cast<double>(check.frames) >= check.framesExpected * kMinimumFrameShare - slack;
}

std::vector<ListedPass> Missed(const std::vector<ListedPass>& expected,
                               const std::vector<CaptureCheck>& captures) {
  std::vector<ListedPass> missed;
  for (const ListedPass& pass : expected) {
    bool found = std::any_of(captures.begin(), captures.end(), [&](const CaptureCheck& c) {
      return c.code == pass.code && c.fault.empty() &&
             c.acquiredTime >= pass.aos - kDueLeadSeconds && c.acquiredTime <= EndOf(pass);
    });
    if (!found) missed.push_back(pass);
  }
  return missed;
}

std::map<std::string, int> CountByCode(const std::vector<ListedPass>& passes) {
  std::map<std::string, int> counts;
  for (const ListedPass& pass : passes) ++counts[pass.code];
  return counts;
}

std::map<std::string, int> CountByCode(const std::vector<CaptureCheck>& captures) {
  std::map<std::string, int> counts;
  for (const CaptureCheck& capture : captures) ++counts[capture.code];
  return counts;
}

}  // namespace halvik::soak
