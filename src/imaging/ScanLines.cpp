#include "imaging/ScanLines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace halvik {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kTrustWindowMs = 2 * 3600 * 1000;
// A gap longer than this is not a fade but a spoilt time code that happened to be confirmed.
constexpr std::int64_t kLongestGapSeconds = 30 * 60;

std::int64_t YearStartSeconds(int year) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mday = 1;
  return static_cast<std::int64_t>(timegm(&t));
}

}  // namespace

std::optional<std::int64_t> FrameTimeMs(const std::uint16_t* frame, const HrptLayout& layout,
                                        std::int64_t nearSeconds) {
  const std::uint16_t* code = frame + layout.timeCodeFirstWord;
  // Day count in the first nine bits of the first word; 27 bits of milliseconds after it.
  const int day = (code[0] & 0x3FF) >> 1;
  const std::int64_t msOfDay = (static_cast<std::int64_t>(code[1] & 0x7F) << 20) |
                               (static_cast<std::int64_t>(code[2] & 0x3FF) << 10) |
                               (code[3] & 0x3FF);
  if (day < 1 || day > 366 || msOfDay >= kMsPerDay) return std::nullopt;
  std::time_t near = static_cast<std::time_t>(nearSeconds);
  std::tm utc{};
  if (!gmtime_r(&near, &utc)) return std::nullopt;
  const std::int64_t nearMs = nearSeconds * 1000;
  std::optional<std::int64_t> best;
  for (int year = utc.tm_year + 1900 - 1; year <= utc.tm_year + 1900 + 1; ++year) {
    std::int64_t t = YearStartSeconds(year) * 1000 + (day - 1) * kMsPerDay + msOfDay;
    if (!best || std::abs(t - nearMs) < std::abs(*best - nearMs)) best = t;
  }
  if (std::abs(*best - nearMs) > kTrustWindowMs) return std::nullopt;
  return best;
}

std::optional<double> FirstLineMs(const ScanLinePlan& plan, std::span<const FrameStamp> frames,
                                  int framesPerSecond) {
  const double periodMs = 1000.0 / framesPerSecond;
  std::vector<double> starts;
  for (std::size_t i = 0; i < frames.size() && i < plan.rowOfFrame.size(); ++i) {
    if (frames[i].sync && frames[i].timeMs)
      starts.push_back(static_cast<double>(*frames[i].timeMs) - plan.rowOfFrame[i] * periodMs);
  }
  if (starts.empty()) return std::nullopt;
  const auto middle = starts.begin() + static_cast<std::ptrdiff_t>(starts.size() / 2);
  std::nth_element(starts.begin(), middle, starts.end());
  return *middle;
}

ScanLinePlan PlanScanLines(std::span<const FrameStamp> frames, int framesPerSecond) {
  ScanLinePlan plan;
  plan.rowOfFrame.assign(frames.size(), 0);
  const double periodMs = 1000.0 / framesPerSecond;
  const std::int64_t longestGap = kLongestGapSeconds * framesPerSecond;
  std::int32_t row = -1;
  // The last frame whose time was believed, and its line.
  std::optional<std::int64_t> anchorMs;
  std::int32_t anchorRow = 0;
  auto linesBetween = [&](std::int64_t fromMs, std::int64_t toMs) {
    return std::llround(static_cast<double>(toMs - fromMs) / periodMs);
  };
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const FrameStamp& f = frames[i];
    std::int32_t next = row + 1;
    if (f.sync && f.timeMs) {
      if (!anchorMs) {
        anchorMs = f.timeMs;
        anchorRow = next;
        plan.firstTimeMs = f.timeMs;
      } else {
        const std::int64_t byTime = anchorRow + linesBetween(*anchorMs, *f.timeMs);
        // Anything but the next line is believed only when the following frame comes one scan
        // period after this one; then a later time leaves a gap, an earlier one (lines drawn
        // for frames without sync) just moves the anchor.
        const bool confirmed =
            byTime == next ||
            (i + 1 < frames.size() && frames[i + 1].sync && frames[i + 1].timeMs &&
             linesBetween(*f.timeMs, *frames[i + 1].timeMs) == 1);
        if (confirmed) {
          if (byTime > next && byTime - next <= longestGap)
            next = static_cast<std::int32_t>(byTime);
          anchorMs = f.timeMs;
          anchorRow = next;
        }
      }
      if (anchorRow == next) plan.lastTimeMs = f.timeMs;
    }
    row = next;
    plan.rowOfFrame[i] = row;
  }
  plan.rows = row + 1;
  return plan;
}

}  // namespace halvik
