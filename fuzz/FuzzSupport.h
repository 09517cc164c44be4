#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace halvik::fuzz {

// A directory of this process's own under the temporary directory, made on first use; the
// targets write the input there as the files the code under test opens by name.
const std::filesystem::path& ScratchDir();

// Writes `bytes` to `path` whole (replacing it).
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);

// The input cut at each occurrence of `separator` into at most `parts` pieces (the last piece
// keeps the rest, separators and all); missing pieces are empty.
std::vector<std::string_view> Split(std::string_view input, char separator, std::size_t parts);

// Stops the run with a message on stderr when `ok` is false: a finding.
void Require(bool ok, const char* what);

}  // namespace halvik::fuzz
