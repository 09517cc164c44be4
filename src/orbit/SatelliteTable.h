#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/Shared.h"

namespace halvik {

inline constexpr int kSlotCount = 6;
inline constexpr std::size_t kNameCapacity = 24;  // 23 characters and the NUL

// The orbital elements of one satellite as parsed from its two element lines: a plain value,
// copied out of a slot for computation.
struct ElementSet {
  double meanAnomaly = 0;        // rad, at epoch
  double ascendingNode = 0;      // rad, right ascension of the ascending node at epoch
  double argumentOfPerigee = 0;  // rad
  double eccentricity = 0;
  double inclination = 0;       // rad
  double meanMotion = 0;        // rad/min, as read from the element set
  double meanMotionDot = 0;     // rad/min^2, first derivative of mean motion / 2
  double meanMotionDdot = 0;    // rad/min^3, second derivative / 6
  double bstar = 0;             // 1/Earth radii; 0 is replaced by an estimate on propagation
  double epochMinutes = 0;      // min since 1970-01-01 00:00 UTC
  double epoch1950Minutes = 0;  // min since 1950 January 0.0 UTC (1949-12-31 00:00)
};

// One slot of the satellite table. Every field may be read by another thread while it is
// written, so each is a lock-free shared value. A reader tests `active` (acquire) first and
// skips the slot when it is 0; the parser clears it first and sets it last (release).
struct SatelliteRecord {
  SharedName<kNameCapacity> name;
  std::atomic<std::int32_t> active{0};

  // The element set (see ElementSet for units).
  Shared<double> meanAnomaly, ascendingNode, argumentOfPerigee, eccentricity, inclination,
      meanMotion, meanMotionDot, meanMotionDdot, bstar, epochMinutes, epoch1950Minutes;

  Shared<double> position[3];      // Earth radii, inertial frame, at the latest step
  Shared<double> velocity[3];      // Earth radii/min
  Shared<double> subSatellite[3];  // longitude rad (-pi, pi], geocentric latitude rad, distance
  Shared<double> lookAngles[3];    // azimuth rad [0, 2pi), elevation rad, range Earth radii

  Shared<std::int64_t> aosTime;  // s since 1970 on the corrected clock; 0 none; -1 geosync
  Shared<std::int64_t> losTime;  // same scale; 0 none found; -1 geosync
  Shared<std::int32_t> aosPending;
  Shared<std::int32_t> inPass;
  Shared<std::int32_t> geosynchronous;
  Shared<std::int32_t> latitudeDeg;   // whole degrees, north positive
  Shared<std::int32_t> longitudeDeg;  // whole degrees, east positive
  Shared<double> azimuthDeg;          // [0, 360)
  Shared<double> elevationDeg;        // negative below the horizon

  bool IsActive() const { return active.load(std::memory_order_acquire) != 0; }
  ElementSet Elements() const;
  void StoreElements(const ElementSet& e);
};

using SatelliteTable = std::array<SatelliteRecord, kSlotCount>;

}  // namespace halvik
