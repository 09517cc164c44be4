#pragma once

#include "orbit/SatelliteTable.h"
#include "platform/Units.h"

namespace halvik {

// sqrt(GM) of the near-Earth model (WGS-72 based), Earth radii^1.5 per minute.
inline constexpr double kXke = 0.0743669161;

// Position and velocity in the propagator's inertial frame.
struct StateVector {
  double position[3] = {0, 0, 0};  // Earth radii
  double velocity[3] = {0, 0, 0};  // Earth radii per minute
};

// Near-Earth SGP4 at `tsince` minutes from the element set's epoch (may be negative). When
// `elements.bstar` is exactly 0 it is replaced by the estimate from the mean motion derivative.
void Propagate(double tsince, ElementSet& elements, StateVector& out);

// Propagates a slot: reads its element set, writes its position and velocity (and bstar when
// the estimate replaced 0).
void Propagate(double tsince, SatelliteRecord& slot);

// An angle reduced to [0, 2pi).
double Fmod2Pi(double angle);

// The element-set-dependent quantities of the model, computed once for an element set and then
// good for any number of times. Propagate above computes them afresh on every call; a caller
// that propagates one element set many times may keep them (see Sgp4Cache). Both paths run the
// same code, so their results are identical bit for bit.
struct Sgp4Init {
  // Elements as used (bstar possibly replaced by the estimate).
  double xmo = 0, xnodeo = 0, omegao = 0, eo = 0, xincl = 0, bstar = 0;
  double xnodp = 0, aodp = 0;  // recovered mean motion (rad/min) and semi-major axis (Earth radii)
  bool isimp = false;          // perigee below 220 km: simplified drag
  double cosio = 0, sinio = 0, x3thm1 = 0, x1mth2 = 0, x7thm1 = 0;
  double eta = 0, c1 = 0, c4 = 0, c5 = 0;
  double xmdot = 0, omgdot = 0, xnodot = 0;
  double omgcof = 0, xmcof = 0, xnodcf = 0, t2cof = 0, xlcof = 0, aycof = 0;
  double delmo = 0, sinmo = 0;
  double d2 = 0, d3 = 0, d4 = 0, t3cof = 0, t4cof = 0, t5cof = 0;
};

// Computes the initialisation for `elements`. When `elements.bstar` is exactly 0 it is replaced
// there by the estimate 2/3 * meanMotionDot / (C2 * meanMotion).
void InitializeSgp4(ElementSet& elements, Sgp4Init& init);

// The propagation stage for an initialised element set.
void PropagateInitialized(double tsince, const Sgp4Init& init, StateVector& out);

// Keeps the initialisation of the element set it last saw and recomputes it whenever any
// element (bstar included) differs, so its results equal those of Propagate.
class Sgp4Cache {
 public:
  void Propagate(double tsince, ElementSet& elements, StateVector& out);
  void Invalidate() { valid_ = false; }

 private:
  bool valid_ = false;
  ElementSet key_;  // elements as they were after the last initialisation
  Sgp4Init init_;
};

}  // namespace halvik
