#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "devices/HrptFormat.h"

namespace halvik::sim {

// Every simulated minor frame ends in the same 100 pseudo-noise words; the station measures the
// bit error rate by comparing them with its copy in pn.fil.
inline constexpr auto kPseudoNoiseWords = static_cast<std::size_t>(kPnTableWords);
inline constexpr std::size_t kPseudoNoiseFileBytes = kPseudoNoiseWords * 2;

// 1000 bits of a maximal-length sequence (x^10 + x^7 + 1, register all ones at the start), packed
// ten bits to a word, first bit in bit 9.
constexpr std::array<std::uint16_t, kPseudoNoiseWords> MakePseudoNoiseWords() {
  std::array<std::uint16_t, kPseudoNoiseWords> words{};
  unsigned reg = 0x3FF;
  for (auto& word : words) {
    unsigned value = 0;
    for (int bit = 0; bit < 10; ++bit) {
      unsigned out = (reg >> 9) & 1u;
      unsigned feedback = ((reg >> 9) ^ (reg >> 6)) & 1u;
      reg = ((reg << 1) | feedback) & 0x3FFu;
      value = (value << 1) | out;
    }
    word = static_cast<std::uint16_t>(value);
  }
  return words;
}

inline constexpr std::array<std::uint16_t, kPseudoNoiseWords> kPseudoNoise = MakePseudoNoiseWords();

// The bytes of pn.fil that match the simulated satellites: the 100 words, 16-bit little-endian.
std::string PseudoNoiseFileBytes();

}  // namespace halvik::sim
