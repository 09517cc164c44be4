#pragma once

#include "platform/Shared.h"

namespace halvik {

// The station's position and minimum elevation. Replaced as a whole by SetStation on the
// tracking thread or, through the Location command, the user-interface thread; each value is
// read without a lock and a reader may see a mix of old and new values for a moment (the pass
// flags reset that follows every replacement repairs what was computed from the mix).
struct StationConfig {
  Shared<double> latitude;      // rad, geodetic, north positive
  Shared<double> longitude;     // rad, east positive
  Shared<double> height;        // Earth radii (converted from feet)
  Shared<double> sinLatitude;   // derived
  Shared<double> cosLatitude;   // derived
  Shared<double> axisDistance;  // Earth radii from the polar axis
  Shared<double> stationZ;      // Earth radii from the equatorial plane, north positive
  Shared<double> minimumElevation;  // rad, 0 to 25 degrees
};

}  // namespace halvik
