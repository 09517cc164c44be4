#pragma once

namespace halvik {

// A peer that goes away mid-write (a web client, rotctld, gpsd, a frame consumer) must be a
// failed write (EPIPE) that the writer handles, never the end of the station: SIGPIPE is
// ignored for the whole process, first thing at start, instead of leaving it to whichever
// library happens to ignore it. False when the system refused.
bool IgnoreBrokenPipe();

}  // namespace halvik
