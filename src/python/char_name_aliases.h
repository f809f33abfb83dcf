// Character name aliases for `\N{...}` escapes that ICU's name lookup does not cover.
#pragma once

#include <cstdint>
#include <string_view>

namespace korvane::python {

// The code point of an alias written in upper case ("NBSP", "LINE FEED").
bool lookup_name_alias(std::string_view upper_name, uint32_t* code_point);

}  // namespace korvane::python
