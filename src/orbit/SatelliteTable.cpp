#include "orbit/SatelliteTable.h"

namespace halvik {

ElementSet SatelliteRecord::Elements() const {
  ElementSet e;
  e.meanAnomaly = meanAnomaly;
  e.ascendingNode = ascendingNode;
  e.argumentOfPerigee = argumentOfPerigee;
  e.eccentricity = eccentricity;
  e.inclination = inclination;
  e.meanMotion = meanMotion;
  e.meanMotionDot = meanMotionDot;
  e.meanMotionDdot = meanMotionDdot;
  e.bstar = bstar;
  e.epochMinutes = epochMinutes;
  e.epoch1950Minutes = epoch1950Minutes;
  return e;
}

void SatelliteRecord::StoreElements(const ElementSet& e) {
  meanAnomaly = e.meanAnomaly;
  ascendingNode = e.ascendingNode;
  argumentOfPerigee = e.argumentOfPerigee;
  eccentricity = e.eccentricity;
  inclination = e.inclination;
  meanMotion = e.meanMotion;
  meanMotionDot = e.meanMotionDot;
  meanMotionDdot = e.meanMotionDdot;
  bstar = e.bstar;
  epochMinutes = e.epochMinutes;
  epoch1950Minutes = e.epoch1950Minutes;
}

}  // namespace halvik
