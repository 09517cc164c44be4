#include "dsp/Viterbi27.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <iterator>

namespace halvik {
namespace {

constexpr unsigned kG1 = 0x4F;  // 171 octal, the newest bit lowest
constexpr unsigned kG2 = 0x6D;  // 133 octal
constexpr int kStates = 64;
constexpr int kButterflies = 32;
constexpr std::int32_t kFar = 1 << 20;  // start metric of every state but 0

// For butterfly i (predecessors i and i + 32, successors 2i and 2i + 1) the coded bits of the
// branch i -> 2i, as all-ones masks; the other three branches are its complement or itself.
struct Expected {
  __m128i g1[kButterflies / 4];
  __m128i g2[kButterflies / 4];
};

Expected MakeExpected() {
  Expected expected;
  for (int k = 0; k < kButterflies / 4; ++k) {
    std::int32_t a[4];
    std::int32_t b[4];
    for (int lane = 0; lane < 4; ++lane) {
      const unsigned reg = 2u * static_cast<unsigned>(4 * k + lane);
      a[lane] = (std::popcount(reg & kG1) & 1) ? -1 : 0;
      b[lane] = (std::popcount(reg & kG2) & 1) ? -1 : 0;
    }
    expected.g1[k] = _mm_setr_epi32(a[0], a[1], a[2], a[3]);
    expected.g2[k] = _mm_setr_epi32(b[0], b[1], b[2], b[3]);
  }
  return expected;
}

inline __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
  return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

}  // namespace

void Viterbi27::Decode(std::span<const std::uint8_t> pairs, std::vector<std::uint8_t>& bits) {
  const Expected expected = MakeExpected();
  const std::size_t steps = pairs.size() / 2;
  decisions_.resize(2 * steps);
  alignas(16) std::array<std::int32_t, kStates> metrics;
  metrics.fill(kFar);
  metrics[0] = 0;
  __m128i old[kStates / 4];
  for (int k = 0; k < kStates / 4; ++k) {
    old[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(metrics.data() + 4 * k));
  }
  const __m128i full = _mm_set1_epi32(510);
  for (std::size_t t = 0; t < steps; ++t) {
    const int y2 = pairs[2 * t];
    const int y1 = pairs[2 * t + 1];
    const __m128i zero1 = _mm_set1_epi32(y1);
    const __m128i one1 = _mm_set1_epi32(255 - y1);
    const __m128i zero2 = _mm_set1_epi32(y2);
    const __m128i one2 = _mm_set1_epi32(255 - y2);
    __m128i next[kStates / 4];
    std::uint32_t evenBits = 0;
    std::uint32_t oddBits = 0;
    for (int k = 0; k < kButterflies / 4; ++k) {
      const auto ks = static_cast<std::size_t>(k);
      // Cost of the branch i -> 2i (and i + 32 -> 2i + 1); the crossing branches cost 510 - c.
      const __m128i c =
          _mm_add_epi32(Select(expected.g1[ks], one1, zero1), Select(expected.g2[ks], one2, zero2));
      const __m128i cross = _mm_sub_epi32(full, c);
      const __m128i low = old[ks];
      const __m128i high = old[ks + kButterflies / 4];
      const __m128i m0 = _mm_add_epi32(low, c);
      const __m128i m1 = _mm_add_epi32(high, cross);
      const __m128i m2 = _mm_add_epi32(low, cross);
      const __m128i m3 = _mm_add_epi32(high, c);
      const __m128i pickEven = _mm_cmpgt_epi32(m0, m1);  // the predecessor i + 32 wins
      const __m128i pickOdd = _mm_cmpgt_epi32(m2, m3);
      const __m128i even = Select(pickEven, m1, m0);
      const __m128i odd = Select(pickOdd, m3, m2);
      evenBits |= static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(pickEven)))
                  << (4 * k);
      oddBits |= static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(pickOdd))) << (4 * k);
      next[2 * ks] = _mm_unpacklo_epi32(even, odd);
      next[2 * ks + 1] = _mm_unpackhi_epi32(even, odd);
    }
    std::copy(std::begin(next), std::end(next), std::begin(old));
    decisions_[2 * t] = evenBits;
    decisions_[2 * t + 1] = oddBits;
  }
  for (int k = 0; k < kStates / 4; ++k) {
    _mm_store_si128(reinterpret_cast<__m128i*>(metrics.data() + 4 * k), old[k]);
  }
  unsigned state =
      static_cast<unsigned>(std::min_element(metrics.begin(), metrics.end()) - metrics.begin());
  bits.resize(steps);
  for (std::size_t t = steps; t-- > 0;) {
    bits[t] = static_cast<std::uint8_t>(state & 1u);
    const std::uint32_t word = decisions_[2 * t + (state & 1u)];
    const unsigned high = (word >> (state >> 1)) & 1u;
    state = (high << 5) | (state >> 1);
  }
}

}  // namespace halvik
