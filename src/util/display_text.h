// Showing raw file-system bytes as text.
//
//   std::string name = korvane::utf8_lossy(entry_name);  // "caf\xFF" -> "caf\uFFFD"
//   KLOG_DEBUG(target, "Skipping {}", korvane::debug_quoted(path));  // "\"a\\tb\""
#pragma once

#include <string>
#include <string_view>

namespace korvane {

// `bytes` with each invalid UTF-8 sequence (its maximal subpart) replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// `bytes` between double quotes, the way log lines show a path or name: quote and backslash
// escaped, \0 \t \r \n, other non-printable characters as \u{hex}, invalid UTF-8 bytes as \xHH.
std::string debug_quoted(std::string_view bytes);

}  // namespace korvane
