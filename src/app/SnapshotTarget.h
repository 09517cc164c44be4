#pragma once

#include <filesystem>
#include <string>

namespace halvik {

// Why `path` may not take the status view's picture, or "" when it may: the picture may only
// replace a PNG file or make a new file whose name ends in ".png", and never one of the
// station's own files, whose loss would cost the station its satellites or its position.
std::string SnapshotTargetProblem(const std::filesystem::path& path);

}  // namespace halvik
