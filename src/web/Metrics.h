#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/Station.h"

namespace halvik::web {

class LevelRecordingReadout;

// How many of the coming day's passes the priority rule follows and skips.
struct PlannedPasses {
  int follow = 0;
  int skip = 0;
};

// The station's figures in the Prometheus text exposition format (version 0.0.4): a HELP and a
// TYPE line before each metric, counters ending in _total, units in the names. `planned` is
// left out when the pass listing could not be made.
std::string MetricsText(Station& station, const LevelRecordingReadout* polled,
                        const std::optional<PlannedPasses>& planned);

}  // namespace halvik::web
