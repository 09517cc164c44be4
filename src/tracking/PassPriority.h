#pragma once

#include <cstdint>
#include <vector>

namespace halvik {

// One predicted pass of a slot, seconds since 1970 UTC.
struct SlotPass {
  int slot = 0;
  std::int64_t aos = 0;
  std::int64_t los = 0;  // 0: no end found (up for a whole day from its AOS)
};

// The scheduler's priority among predicted passes: a lower slot takes the antenna from the
// moment it is due (61 s before its AOS) until its LOS. A pass is let through when no pass of a
// lower slot holds the antenna ([aos - 61, los]) at any moment of its own [aos - 61, los].
// One flag per pass, in the order given: true when it is followed.
std::vector<bool> PriorityLetsThrough(const std::vector<SlotPass>& passes);

}  // namespace halvik
