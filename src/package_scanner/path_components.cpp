#include "package_scanner/path_components.h"

#include <algorithm>

namespace korvane::package_scanner {

std::vector<std::string_view> path_components(std::string_view path) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  if (!path.empty() && path[0] == '/') {
    out.push_back(path.substr(0, 1));
  } else if (path == "." || path.substr(0, 2) == "./") {
    out.push_back(path.substr(0, 1));  // a leading "." of a relative path is kept
  }
  while (i < path.size()) {
    const std::size_t end = std::min(path.find('/', i), path.size());
    const std::string_view piece = path.substr(i, end - i);
    if (!piece.empty() && piece != ".") out.push_back(piece);
    i = end + 1;
  }
  return out;
}

bool path_starts_with(std::string_view path, std::string_view base) {
  const auto have = path_components(path);
  const auto want = path_components(base);
  if (want.size() > have.size()) return false;
  return std::equal(want.begin(), want.end(), have.begin());
}

std::string component_key(std::string_view path) {
  std::string key;
  key.reserve(path.size());
  for (std::string_view piece : path_components(path)) {
    // The root is its own separator; "/" never occurs inside a relative component.
    if (!key.empty() && key != "/") key.push_back('/');
    key.append(piece);
  }
  return key;
}

}  // namespace korvane::package_scanner
