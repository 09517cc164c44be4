#pragma once

#include <cstdint>
#include <string_view>

namespace halvik::web {

// What of a file of `size` bytes answers a Range header.
struct ByteRange {
  enum Kind { Whole, Part, Unsatisfiable } kind = Whole;
  std::uint64_t first = 0;   // Part: the first byte
  std::uint64_t length = 0;  // Part: bytes from `first`; Whole: the size
};

// One range is served as asked ("a-b", "a-", "-n"), its end cut to the file; one that starts at
// or past the end cannot be served. Several ranges, or a header that is not a byte range, are
// answered with the whole file once, which costs no more than a plain request.
ByteRange ChooseRange(std::string_view header, std::uint64_t size);

}  // namespace halvik::web
