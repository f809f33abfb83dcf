// Path text handling shared by the resolver: component-wise parents and cache keys that treat
// "a//b/" like "a/b", the way the resolver compares directories.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvane::import_resolver {

// The path without its last component, with trailing separators and "." components trimmed; none
// when nothing but a root (or nothing at all) is left to remove. "mod.py" has the parent "".
std::optional<std::string_view> parent_of(std::string_view path);

// The path's components re-joined with single separators, dropping "." except in front, so that
// equal paths give equal keys.
std::string normalized_key(std::string_view path);

}  // namespace korvane::import_resolver
