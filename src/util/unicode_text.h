// Unicode text helpers over ICU for paths and names that may hold any bytes.
//
//   std::string key = korvane::unicode_lowercase("C:\\Users\\ÄSA");  // "c:\\users\\äsa"
//   std::string shown = korvane::utf8_lossy(raw_bytes);             // bad bytes -> U+FFFD
#pragma once

#include <string>
#include <string_view>

namespace korvane {

// `bytes` with every ill-formed UTF-8 subsequence replaced by U+FFFD (one per maximal subpart).
std::string utf8_lossy(std::string_view bytes);

// Unicode default full lower-casing of the whole text: one-to-many mappings (U+0130 gives two
// code points) and the final-sigma rule included. Ill-formed input is first made lossy.
std::string unicode_lowercase(std::string_view text);

}  // namespace korvane
