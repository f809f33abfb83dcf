// Trimming by the Unicode White_Space property (space, tab, line breaks, U+0085, U+00A0,
// U+2028, ...), as header lines and log directives are trimmed.
//
//   trim_white_space("\u00a0Content-Length: 5\r\n") == "Content-Length: 5"
#pragma once

#include <string_view>

namespace korvane {

// `text` must be valid UTF-8; the result is a view into it.
std::string_view trim_white_space(std::string_view text);

}  // namespace korvane
