// Lexical path comparison by whole components, nothing resolved against the file system.
//
//   path_starts_with("/ts/stdlib/", "/ts/stdlib")   // true: trailing separator ignored
//   path_starts_with("/ts/stdlib2", "/ts/stdlib")   // false: components differ
//   component_key("/a//b/./c/") == "/a/b/c"
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane::package_scanner {

// The components of `path`: "/" for a leading root, then every non-empty piece between
// separators, "." pieces dropped unless a relative path begins with one.
std::vector<std::string_view> path_components(std::string_view path);

// True when the components of `base` are a prefix of those of `path`; the empty path is a
// prefix of every path, and a relative path never matches an absolute one, nor the reverse.
bool path_starts_with(std::string_view path, std::string_view base);

// One text per component sequence, so that two paths with equal components share a key.
std::string component_key(std::string_view path);

}  // namespace korvane::package_scanner
