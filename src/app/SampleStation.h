#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace halvik {

// Lays out a complete sample station in `dir` (created when missing): element sets, satellite
// list, location, minimum elevation, map, the pseudo-noise table the simulated synchronizer's
// satellites send, and three post-processing programs that make each capture's images with
// `halvikProgram image` (an absolute path; empty: no images, the programs only log) and log the
// outcome. Refuses, writing nothing, when any of those files is already there. Returns an empty
// string on success, else what went wrong.
std::string InitStation(const std::filesystem::path& dir,
                        const std::filesystem::path& halvikProgram = {});

// The names of the files InitStation writes.
std::vector<std::string> SampleStationFileNames();

}  // namespace halvik
