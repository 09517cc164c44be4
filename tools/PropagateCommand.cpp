#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "orbit/ElementSet.h"
#include "orbit/PropagateListing.h"
#include "tools/Commands.h"

namespace halvik::tools {
namespace {

struct PropagateArguments {
  std::string elements;
  std::string name;
  std::string minutes;
  std::string from;
  std::string step;
  std::string count;
  std::string station;
};

// Turns the command line into options; false when the arguments do not make one listing.
bool ToOptions(const PropagateArguments& a, CLI::App& sub, PropagateOptions& options) {
  options.elementsFile = a.elements;
  options.name = a.name;
  const bool byMinutes = sub.count("--minutes") > 0;
  const bool byTime =
      sub.count("--from") > 0 || sub.count("--step") > 0 || sub.count("--count") > 0;
  if (byMinutes == byTime) return false;
  if (byMinutes) {
    for (const std::string& part : SplitCommas(a.minutes)) {
      auto value = ParseNumber(part);
      if (!value) return false;
      options.minutes.push_back(*value);
    }
  } else {
    auto from = ParseIsoUtc(a.from);
    auto step = ParseNumber(a.step);
    auto count = ParseNumber(a.count);
    if (!from || !step || !count || *count < 0 || *count > 10000000 ||
        *count != static_cast<double>(static_cast<int>(*count))) {
      return false;
    }
    options.fromSeconds = *from;
    options.stepSeconds = *step;
    options.count = static_cast<int>(*count);
  }
  if (sub.count("--station") > 0) {
    std::vector<std::string> parts = SplitCommas(a.station);
    if (parts.size() != 3) return false;
    for (const std::string& part : parts) {
      if (!ParseNumber(part)) return false;
    }
    options.station = parts;
  }
  return true;
}

}  // namespace

void AddPropagateCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<PropagateArguments>();
  CLI::App* sub = app.add_subcommand(
      "propagate", "List a satellite's SGP4 position and velocity (and look angles) over time");
  sub->add_option("--elements", args->elements, "Element file (name line + two element lines)")
      ->required();
  sub->add_option("--name", args->name, "Satellite name as in the element file")->required();
  sub->add_option("--minutes", args->minutes, "Minutes since epoch, comma-separated: M1,M2,...");
  sub->add_option("--from", args->from, "First UTC time, ISO 8601: 2001-10-11T12:00:00Z");
  sub->add_option("--step", args->step, "Seconds between lines (with --from)");
  sub->add_option("--count", args->count, "Number of lines (with --from)");
  sub->add_option("--station", args->station,
                  "Station LAT_DEG,LON_DEG,HEIGHT_FT: adds az, el, range, sub-satellite point");
  sub->callback([sub, args, &exitCode] {
    PropagateOptions options;
    if (!ToOptions(*args, *sub, options)) {
      std::cerr << sub->help();
      exitCode = 2;
      return;
    }
    if (const std::string problem = PropagateOptionsProblem(options); !problem.empty()) {
      std::cerr << "halvik propagate: " << problem << "\n";
      exitCode = 2;
      return;
    }
    std::string listing;
    const ElementSetResult code = WritePropagateListing(options, listing);
    if (code != ElementSetResult::Ok) {
      std::cerr << ElementSetMessage(code) << "\n";
      exitCode = 2;
      return;
    }
    std::fwrite(listing.data(), 1, listing.size(), stdout);
    exitCode = 0;
  });
}

}  // namespace halvik::tools
