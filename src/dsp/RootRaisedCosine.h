#pragma once

#include <cmath>
#include <numbers>

namespace halvik {

// The root-raised-cosine pulse of unit energy per symbol, at `t` symbols from its peak, for the
// roll-off `beta`: the QPSK downlinks' shaping, and so their matched filter.
inline double RootRaisedCosine(double t, double beta) {
  constexpr double kPi = std::numbers::pi;
  if (std::abs(t) < 1e-9) return 1.0 - beta + 4.0 * beta / kPi;
  if (beta > 0 && std::abs(std::abs(t) - 1.0 / (4.0 * beta)) < 1e-9) {
    return beta / std::sqrt(2.0) *
           ((1.0 + 2.0 / kPi) * std::sin(kPi / (4.0 * beta)) +
            (1.0 - 2.0 / kPi) * std::cos(kPi / (4.0 * beta)));
  }
  const double numerator =
      std::sin(kPi * t * (1.0 - beta)) + 4.0 * beta * t * std::cos(kPi * t * (1.0 + beta));
  return numerator / (kPi * t * (1.0 - (4.0 * beta * t) * (4.0 * beta * t)));
}

}  // namespace halvik
