// Framing of the message loop: header lines, the length header and the body.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/fatal_error.h"
#include "server/input_reader.h"
#include "util/result.h"

namespace korvane::server {

// The value of a length header, already trimmed: an optional '+' and decimal digits up to
// 18446744073709551615. Errors: "cannot parse integer from empty string", "invalid digit
// found in string", "number too large to fit in target type".
Result<uint64_t> parse_content_length(std::string_view value);

// Reads header lines up to the empty line that ends them; gives the last declared length,
// if any. At end of input `end_of_input` is set and whatever was read is dropped.
Result<std::optional<uint64_t>, FatalError> read_headers(InputReader& in, std::string& line,
                                                         bool& end_of_input);

}  // namespace korvane::server
