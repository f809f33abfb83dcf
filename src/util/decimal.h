// Unsigned decimal numbers as the client's side writes them in headers and the environment.
//
//   Result<uint64_t> n = parse_unsigned_decimal("+42");   // 42
#pragma once

#include <cstdint>
#include <string_view>

#include "util/result.h"

namespace korvane {

// An optional '+' and decimal digits, up to 18446744073709551615, nothing around them. Errors:
// "cannot parse integer from empty string", "invalid digit found in string", "number too large
// to fit in target type".
Result<uint64_t> parse_unsigned_decimal(std::string_view text);

}  // namespace korvane
