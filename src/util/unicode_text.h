// Unicode text helpers over ICU for paths and names that may hold any bytes.
//
//   std::string key = korvane::unicode_lowercase("C:\\Users\\ÄSA");  // "c:\\users\\äsa"
#pragma once

#include <string>
#include <string_view>

namespace korvane {

// Unicode default full lower-casing of the whole text: one-to-many mappings (U+0130 gives two
// code points) and the final-sigma rule included. Ill-formed UTF-8 in the input
// becomes U+FFFD, one per maximal subpart.
std::string unicode_lowercase(std::string_view text);

}  // namespace korvane
