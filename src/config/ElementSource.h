#pragma once

#include <optional>
#include <string>

namespace halvik {

// The text of an element-set source: an http:// or https:// URL (fetched, following
// redirects, an HTTP error status counting as a failure) or a file. On failure: nothing, and
// `error` says why.
std::optional<std::string> ReadElementSource(const std::string& source, std::string& error);

}  // namespace halvik
