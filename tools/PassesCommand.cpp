#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "app/SimStart.h"
#include "config/PassListing.h"
#include "orbit/PropagateListing.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "tools/Commands.h"

namespace halvik::tools {
namespace {

struct PassesArguments {
  std::string from;
  std::string hours = "24";
};

int RunPasses(const PassesArguments& args, bool fromGiven) {
  RealClock clock;
  std::int64_t from = clock.Now().seconds;
  if (fromGiven && args.from == "next-pass") {
    // Where `halvik --sim-start next-pass` starts, so a script can learn the pass it will see.
    const std::optional<SystemTime> start = NextPassStart(".");
    if (!start) {
      std::cerr << "halvik passes: no satellite of sats.dat rises within two days of its "
                   "element sets\n";
      return 2;
    }
    from = start->seconds;
  } else if (fromGiven) {
    auto parsed = ParseIsoUtc(args.from);
    if (!parsed) {
      std::cerr << "halvik passes: --from must be a UTC time such as 2001-10-11T12:00:00Z\n";
      return 2;
    }
    from = static_cast<std::int64_t>(std::floor(*parsed));
  }
  auto hours = ParseNumber(args.hours);
  if (!hours || !(*hours > 0) || !std::isfinite(*hours)) {
    std::cerr << "halvik passes: --hours must be a positive number\n";
    return 2;
  }
  // The station keeps its times as 32-bit seconds since 1970.
  if (from < 0 || static_cast<double>(from) + *hours * 3600.0 >
                      static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    std::cerr << "halvik passes: the window must lie between 1970 and 2038-01-19T03:14:07Z\n";
    return 2;
  }
  // The loaders' messages (missing or bad files) go to standard error.
  LoggedMessages messages(clock);
  PassListing listing = ListPasses(".", from, *hours, messages);
  for (const std::string& line : listing.lines) std::cout << line << '\n';
  std::cout.flush();
  return listing.satellitesLoaded > 0 ? 0 : 2;
}

}  // namespace

void AddPassesCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<PassesArguments>();
  CLI::App* sub = app.add_subcommand(
      "passes", "List the coming passes of the station in the current directory");
  sub->add_option(
      "--from", args->from,
      "Start of the window, UTC: 2001-10-11T12:00:00Z (now), or next-pass (where --sim-start "
      "next-pass starts)");
  sub->add_option("--hours", args->hours, "Length of the window in hours (24)");
  sub->callback([sub, args, &exitCode] { exitCode = RunPasses(*args, sub->count("--from") > 0); });
}

}  // namespace halvik::tools
