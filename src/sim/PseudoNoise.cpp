#include "sim/PseudoNoise.h"

namespace halvik::sim {

std::string PseudoNoiseFileBytes() {
  std::string bytes;
  bytes.reserve(kPseudoNoiseFileBytes);
  for (std::uint16_t word : kPseudoNoise) {
    bytes.push_back(static_cast<char>(word & 0xFF));
    bytes.push_back(static_cast<char>(word >> 8));
  }
  return bytes;
}

}  // namespace halvik::sim
