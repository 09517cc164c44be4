#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace halvik {

// Soft-decision Viterbi decoder of the K=7 code (171, 133 octal), SSE2, 32-bit path metrics.
// Measured against libfec's viterbi27, which Debian ships only in its portable form (no SSE2
// entry points): bench_metop's BM_Viterbi27 and BM_OwnViterbi27. Pairs come as libfec takes
// them, (133, 171), each 0 a sure zero and 255 a sure one, 128 nothing known.
class Viterbi27 {
 public:
  // Decodes `pairs.size() / 2` bits from state 0, traced back from the best final state; one
  // bit a byte.
  void Decode(std::span<const std::uint8_t> pairs, std::vector<std::uint8_t>& bits);

 private:
  std::vector<std::uint32_t> decisions_;  // per step: even states' then odd states' bits
};

}  // namespace halvik
