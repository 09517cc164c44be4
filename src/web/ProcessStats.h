#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace halvik::web {

// CPU time (user + system) this process has used, in seconds.
double ProcessCpuSeconds();

// Resident memory of this process in bytes, from /proc/self/statm; nothing when unreadable.
std::optional<std::uint64_t> ProcessResidentBytes();

// The resident pages (second field) of a /proc/<pid>/statm text.
std::optional<std::uint64_t> ResidentPagesFromStatm(std::string_view statm);

}  // namespace halvik::web
