#include "tracking/PassPriority.h"

#include <algorithm>

#include "tracking/Scheduler.h"

namespace halvik {
namespace {

constexpr std::int64_t kDaySeconds = 86400;

std::int64_t HeldFrom(const SlotPass& pass) {
  return pass.aos - kDueLeadSeconds;
}

std::int64_t HeldUntil(const SlotPass& pass) {
  return pass.los > 0 ? pass.los : pass.aos + kDaySeconds;
}

}  // namespace

std::vector<bool> PriorityLetsThrough(const std::vector<SlotPass>& passes) {
  std::vector<bool> kept;
  kept.reserve(passes.size());
  for (const SlotPass& pass : passes) {
    const bool overlapped = std::any_of(passes.begin(), passes.end(), [&](const SlotPass& lower) {
      return lower.slot < pass.slot && HeldFrom(lower) <= HeldUntil(pass) &&
             HeldUntil(lower) >= HeldFrom(pass);
    });
    kept.push_back(!overlapped);
  }
  return kept;
}

}  // namespace halvik
