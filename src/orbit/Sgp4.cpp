#include "orbit/Sgp4.h"

#include <cmath>

namespace halvik {
namespace {

// Constants of the near-Earth model (WGS-72 based), distances in Earth radii, time in minutes.
constexpr double kCk2 = 0.000541308;    // 1/2 J2 AE^2
constexpr double kCk4 = 6.2098875e-07;  // -3/8 J4 AE^4
constexpr double kXj3 = -2.53881e-06;
constexpr double kQoms2t = 1.88027916e-09;  // ((q0 - s) AE / XKMPER)^4
constexpr double kS = 1.01222928;           // AE + 78 km / XKMPER
constexpr double kXkmper = kEarthRadiusKm;
constexpr double kAe = 1.0;
constexpr double kTothrd = 0.6666666666666667;
constexpr double kE6a = 1e-06;  // Kepler tolerance
constexpr int kKeplerIterations = 10;

// Perigee limits, km: below the first the drag terms are simplified; below the second the
// atmosphere's s parameter follows the perigee down (to 20 km at or below the third).
constexpr double kSimplifiedDragPerigeeKm = 220.0;
constexpr double kLowPerigeeKm = 156.0;
constexpr double kVeryLowPerigeeKm = 98.0;

}  // namespace

double Fmod2Pi(double angle) {
  const double q = angle / kTwoPi;
  const double k = q >= 0 ? std::floor(q) : std::ceil(q);
  double r = (q - k) * kTwoPi;
  if (r < 0) r += kTwoPi;
  // A tiny negative remainder plus 2pi rounds to 2pi itself, which lies outside the range.
  if (r >= kTwoPi) r = 0.0;
  return r;
}

void InitializeSgp4(ElementSet& elements, Sgp4Init& in) {
  const double xno = elements.meanMotion;
  const double eo = elements.eccentricity;
  const double xincl = elements.inclination;
  const double omegao = elements.argumentOfPerigee;
  const double xmo = elements.meanAnomaly;

  // Recover the original mean motion (XNODP) and semi-major axis (AODP) from the elements.
  const double a1 = std::pow(kXke / xno, kTothrd);
  const double cosio = std::cos(xincl);
  const double theta2 = cosio * cosio;
  const double x3thm1 = 3.0 * theta2 - 1.0;
  const double eosq = eo * eo;
  const double betao2 = 1.0 - eosq;
  const double betao = std::sqrt(betao2);
  const double del1 = 1.5 * kCk2 * x3thm1 / (a1 * a1 * betao * betao2);
  const double ao = a1 * (1.0 - del1 * (0.5 * kTothrd + del1 * (1.0 + 134.0 / 81.0 * del1)));
  const double delo = 1.5 * kCk2 * x3thm1 / (ao * ao * betao * betao2);
  const double xnodp = xno / (1.0 + delo);
  const double aodp = ao / (1.0 - delo);

  // Perigee below 220 km: the equations are truncated to linear variation in sqrt(a) and
  // quadratic variation in mean anomaly, and the C3, delta-omega and delta-M terms dropped.
  const bool isimp = (aodp * (1.0 - eo) / kAe) < (kSimplifiedDragPerigeeKm / kXkmper + kAe);

  // Perigee below 156 km: s and QOMS2T are altered.
  double s4 = kS;
  double qoms24 = kQoms2t;
  const double perige = (aodp * (1.0 - eo) - kAe) * kXkmper;
  if (perige < kLowPerigeeKm) {
    s4 = perige - 78.0;
    if (perige <= kVeryLowPerigeeKm) s4 = 20.0;
    qoms24 = std::pow((120.0 - s4) * kAe / kXkmper, 4);
    s4 = s4 / kXkmper + kAe;
  }

  const double pinvsq = 1.0 / (aodp * aodp * betao2 * betao2);
  const double tsi = 1.0 / (aodp - s4);
  const double eta = aodp * eo * tsi;
  const double etasq = eta * eta;
  const double eeta = eo * eta;
  const double psisq = std::fabs(1.0 - etasq);
  const double coef = qoms24 * std::pow(tsi, 4);
  const double coef1 = coef / std::pow(psisq, 3.5);
  const double c2 = coef1 * xnodp *
                    (aodp * (1.0 + 1.5 * etasq + eeta * (4.0 + etasq)) +
                     0.75 * kCk2 * tsi / psisq * x3thm1 * (8.0 + 3.0 * etasq * (8.0 + etasq)));

  // Without a drag term, estimate one from the mean motion derivative once and keep it.
  if (elements.bstar == 0.0) elements.bstar = kTothrd * elements.meanMotionDot / (c2 * xno);
  const double bstar = elements.bstar;

  const double c1 = bstar * c2;
  const double sinio = std::sin(xincl);
  const double a3ovk2 = -kXj3 / kCk2 * kAe * kAe * kAe;
  // A circular orbit has no perigee for the C3 and delta-M terms to act on; the published
  // divisions by the eccentricity would give infinities there, so those terms are left out.
  const double c3 = eo == 0.0 ? 0.0 : coef * tsi * a3ovk2 * xnodp * kAe * sinio / eo;
  const double x1mth2 = 1.0 - theta2;
  const double c4 =
      2.0 * xnodp * coef1 * aodp * betao2 *
      (eta * (2.0 + 0.5 * etasq) + eo * (0.5 + 2.0 * etasq) -
       2.0 * kCk2 * tsi / (aodp * psisq) *
           (-3.0 * x3thm1 * (1.0 - 2.0 * eeta + etasq * (1.5 - 0.5 * eeta)) +
            0.75 * x1mth2 * (2.0 * etasq - eeta * (1.0 + etasq)) * std::cos(2.0 * omegao)));
  const double c5 = 2.0 * coef1 * aodp * betao2 * (1.0 + 2.75 * (etasq + eeta) + eeta * etasq);
  const double theta4 = theta2 * theta2;
  const double temp1 = 3.0 * kCk2 * pinvsq * xnodp;
  const double temp2 = temp1 * kCk2 * pinvsq;
  const double temp3 = 1.25 * kCk4 * pinvsq * pinvsq * xnodp;
  const double xmdot = xnodp + 0.5 * temp1 * betao * x3thm1 +
                       0.0625 * temp2 * betao * (13.0 - 78.0 * theta2 + 137.0 * theta4);
  const double x1m5th = 1.0 - 5.0 * theta2;
  const double omgdot = -0.5 * temp1 * x1m5th +
                        0.0625 * temp2 * (7.0 - 114.0 * theta2 + 395.0 * theta4) +
                        temp3 * (3.0 - 36.0 * theta2 + 49.0 * theta4);
  const double xhdot1 = -temp1 * cosio;
  const double xnodot =
      xhdot1 + (0.5 * temp2 * (4.0 - 19.0 * theta2) + 2.0 * temp3 * (3.0 - 7.0 * theta2)) * cosio;

  in.xmo = xmo;
  in.xnodeo = elements.ascendingNode;
  in.omegao = omegao;
  in.eo = eo;
  in.xincl = xincl;
  in.bstar = bstar;
  in.xnodp = xnodp;
  in.aodp = aodp;
  in.isimp = isimp;
  in.cosio = cosio;
  in.sinio = sinio;
  in.x3thm1 = x3thm1;
  in.x1mth2 = x1mth2;
  in.x7thm1 = 7.0 * theta2 - 1.0;
  in.eta = eta;
  in.c1 = c1;
  in.c4 = c4;
  in.c5 = c5;
  in.xmdot = xmdot;
  in.omgdot = omgdot;
  in.xnodot = xnodot;
  in.omgcof = bstar * c3 * std::cos(omegao);
  in.xmcof = eeta == 0.0 ? 0.0 : -kTothrd * coef * bstar * kAe / eeta;
  in.xnodcf = 3.5 * betao2 * xhdot1 * c1;
  in.t2cof = 1.5 * c1;
  in.xlcof = 0.125 * a3ovk2 * sinio * (3.0 + 5.0 * cosio) / (1.0 + cosio);
  in.aycof = 0.25 * a3ovk2 * sinio;
  in.delmo = std::pow(1.0 + eta * std::cos(xmo), 3);
  in.sinmo = std::sin(xmo);

  in.d2 = in.d3 = in.d4 = in.t3cof = in.t4cof = in.t5cof = 0.0;
  if (!isimp) {
    const double c1sq = c1 * c1;
    in.d2 = 4.0 * aodp * tsi * c1sq;
    const double temp = in.d2 * tsi * c1 / 3.0;
    in.d3 = (17.0 * aodp + s4) * temp;
    in.d4 = 0.5 * temp * aodp * tsi * (221.0 * aodp + 31.0 * s4) * c1;
    in.t3cof = in.d2 + 2.0 * c1sq;
    in.t4cof = 0.25 * (3.0 * in.d3 + c1 * (12.0 * in.d2 + 10.0 * c1sq));
    in.t5cof = 0.2 * (3.0 * in.d4 + 12.0 * c1 * in.d3 + 6.0 * in.d2 * in.d2 +
                      15.0 * c1sq * (2.0 * in.d2 + c1sq));
  }
}

void PropagateInitialized(double tsince, const Sgp4Init& in, StateVector& out) {
  // Secular effects of gravity and atmospheric drag.
  const double xmdf = in.xmo + in.xmdot * tsince;
  const double omgadf = in.omegao + in.omgdot * tsince;
  const double xnoddf = in.xnodeo + in.xnodot * tsince;
  double omega = omgadf;
  double xmp = xmdf;
  const double tsq = tsince * tsince;
  const double xnode = xnoddf + in.xnodcf * tsq;
  double tempa = 1.0 - in.c1 * tsince;
  double tempe = in.bstar * in.c4 * tsince;
  double templ = in.t2cof * tsq;
  if (!in.isimp) {
    const double delomg = in.omgcof * tsince;
    const double delm = in.xmcof * (std::pow(1.0 + in.eta * std::cos(xmdf), 3) - in.delmo);
    const double temp = delomg + delm;
    xmp = xmdf + temp;
    omega = omgadf - temp;
    const double tcube = tsq * tsince;
    const double tfour = tsince * tcube;
    tempa = tempa - in.d2 * tsq - in.d3 * tcube - in.d4 * tfour;
    tempe = tempe + in.bstar * in.c5 * (std::sin(xmp) - in.sinmo);
    templ = templ + in.t3cof * tcube + tfour * (in.t4cof + tsince * in.t5cof);
  }
  const double a = in.aodp * tempa * tempa;
  const double e = in.eo - tempe;
  const double xl = xmp + omega + xnode + in.xnodp * templ;
  const double beta = std::sqrt(1.0 - e * e);
  const double xn = kXke / std::pow(a, 1.5);

  // Long-period periodics.
  const double axn = e * std::cos(omega);
  double temp = 1.0 / (a * beta * beta);
  const double xll = temp * in.xlcof * axn;
  const double aynl = temp * in.aycof;
  const double xlt = xl + xll;
  const double ayn = e * std::sin(omega) + aynl;

  // Kepler's equation. The terms after the loop use the iterate that entered the last step.
  const double capu = Fmod2Pi(xlt - xnode);
  double temp2 = capu;
  double sinepw = 0, cosepw = 0, temp3 = 0, temp4 = 0, temp5 = 0, temp6 = 0;
  for (int i = 0; i < kKeplerIterations; ++i) {
    sinepw = std::sin(temp2);
    cosepw = std::cos(temp2);
    temp3 = axn * sinepw;
    temp4 = ayn * cosepw;
    temp5 = axn * cosepw;
    temp6 = ayn * sinepw;
    const double epw = (capu - temp4 + temp3 - temp2) / (1.0 - temp5 - temp6) + temp2;
    if (std::fabs(epw - temp2) <= kE6a) break;
    temp2 = epw;
  }

  // Short-period preliminary quantities.
  const double ecose = temp5 + temp6;
  const double esine = temp3 - temp4;
  const double elsq = axn * axn + ayn * ayn;
  temp = 1.0 - elsq;
  const double pl = a * temp;
  const double r = a * (1.0 - ecose);
  double temp1 = 1.0 / r;
  const double rdot = kXke * std::sqrt(a) * esine * temp1;
  const double rfdot = kXke * std::sqrt(pl) * temp1;
  temp2 = a * temp1;
  const double betal = std::sqrt(temp);
  temp3 = 1.0 / (1.0 + betal);
  const double cosu = temp2 * (cosepw - axn + ayn * esine * temp3);
  const double sinu = temp2 * (sinepw - ayn - axn * esine * temp3);
  const double u = std::atan2(sinu, cosu);
  const double sin2u = 2.0 * sinu * cosu;
  const double cos2u = 2.0 * cosu * cosu - 1.0;
  temp = 1.0 / pl;
  temp1 = kCk2 * temp;
  temp2 = temp1 * temp;

  // Short-period periodics.
  const double rk = r * (1.0 - 1.5 * temp2 * betal * in.x3thm1) + 0.5 * temp1 * in.x1mth2 * cos2u;
  const double uk = u - 0.25 * temp2 * in.x7thm1 * sin2u;
  const double xnodek = xnode + 1.5 * temp2 * in.cosio * sin2u;
  const double xinck = in.xincl + 1.5 * temp2 * in.cosio * in.sinio * cos2u;
  const double rdotk = rdot - xn * temp1 * in.x1mth2 * sin2u;
  const double rfdotk = rfdot + xn * temp1 * (in.x1mth2 * cos2u + 1.5 * in.x3thm1);

  // Orientation vectors.
  const double sinuk = std::sin(uk);
  const double cosuk = std::cos(uk);
  const double sinik = std::sin(xinck);
  const double cosik = std::cos(xinck);
  const double sinnok = std::sin(xnodek);
  const double cosnok = std::cos(xnodek);
  const double xmx = -sinnok * cosik;
  const double xmy = cosnok * cosik;
  const double ux = xmx * sinuk + cosnok * cosuk;
  const double uy = xmy * sinuk + sinnok * cosuk;
  const double uz = sinik * sinuk;
  const double vx = xmx * cosuk - cosnok * sinuk;
  const double vy = xmy * cosuk - sinnok * sinuk;
  const double vz = sinik * cosuk;

  out.position[0] = rk * ux;
  out.position[1] = rk * uy;
  out.position[2] = rk * uz;
  out.velocity[0] = rdotk * ux + rfdotk * vx;
  out.velocity[1] = rdotk * uy + rfdotk * vy;
  out.velocity[2] = rdotk * uz + rfdotk * vz;
}

void Propagate(double tsince, ElementSet& elements, StateVector& out) {
  Sgp4Init init;
  InitializeSgp4(elements, init);
  PropagateInitialized(tsince, init, out);
}

void Propagate(double tsince, SatelliteRecord& slot) {
  ElementSet elements = slot.Elements();
  const double bstarBefore = elements.bstar;
  StateVector state;
  Propagate(tsince, elements, state);
  if (elements.bstar != bstarBefore) slot.bstar = elements.bstar;
  for (int i = 0; i < 3; ++i) {
    slot.position[i] = state.position[i];
    slot.velocity[i] = state.velocity[i];
  }
}

namespace {

bool SameElements(const ElementSet& a, const ElementSet& b) {
  return a.meanAnomaly == b.meanAnomaly && a.ascendingNode == b.ascendingNode &&
         a.argumentOfPerigee == b.argumentOfPerigee && a.eccentricity == b.eccentricity &&
         a.inclination == b.inclination && a.meanMotion == b.meanMotion &&
         a.meanMotionDot == b.meanMotionDot && a.meanMotionDdot == b.meanMotionDdot &&
         a.bstar == b.bstar && a.epochMinutes == b.epochMinutes &&
         a.epoch1950Minutes == b.epoch1950Minutes;
}

}  // namespace

void Sgp4Cache::Propagate(double tsince, ElementSet& elements, StateVector& out) {
  if (!valid_ || !SameElements(elements, key_)) {
    InitializeSgp4(elements, init_);
    key_ = elements;
    valid_ = true;
  }
  PropagateInitialized(tsince, init_, out);
}

}  // namespace halvik
