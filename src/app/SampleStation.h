#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace halvik {

// Which sky the sample station looks at: the historical satellites (NOAA, FengYun, SeaStar,
// with element sets of their day) or today's (Meteor-M N2-3 and N2-4, recent element sets, a
// high-latitude site, and their post-processing program).
enum class SampleSky { Historical, Today };

// Lays out a complete sample station in `dir` (created when missing): element sets, satellite
// list, location, minimum elevation, map, the pseudo-noise table the simulated synchronizer's
// satellites send, and three post-processing programs that make each capture's images with
// `halvikProgram image` (an absolute path; empty: no images, the programs only log) and log the
// outcome. Refuses, writing nothing, when any of those files is already there. Returns an empty
// string on success, else what went wrong.
std::string InitStation(const std::filesystem::path& dir,
                        const std::filesystem::path& halvikProgram = {},
                        SampleSky sky = SampleSky::Historical);

// The names of the files InitStation writes.
std::vector<std::string> SampleStationFileNames(SampleSky sky = SampleSky::Historical);

}  // namespace halvik
