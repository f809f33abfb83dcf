#include "util/decimal.h"

#include <string>

namespace korvane {

Result<uint64_t> parse_unsigned_decimal(std::string_view text) {
  if (text.empty()) return Unexpected(std::string("cannot parse integer from empty string"));
  std::string_view digits = text;
  if (digits.front() == '+' && digits.size() > 1) digits.remove_prefix(1);
  uint64_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return Unexpected(std::string("invalid digit found in string"));
    const auto d = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - d) / 10) {
      return Unexpected(std::string("number too large to fit in target type"));
    }
    n = n * 10 + d;
  }
  return n;
}

}  // namespace korvane
