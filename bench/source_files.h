// The Python files of a benchmark corpus: every .py/.pyi under a root (or the root itself),
// test and installed-package directories left out, sorted so runs are comparable.
#pragma once

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::bench {

inline bool excluded_dir(const std::filesystem::path& dir) {
  static constexpr std::string_view kExcluded[] = {"test",          "tests",         "idle_test",
                                                   "site-packages", "dist-packages", "__pycache__"};
  auto name = dir.filename().string();
  return std::find(std::begin(kExcluded), std::end(kExcluded), name) != std::end(kExcluded);
}

inline std::vector<std::string> list_sources(const std::filesystem::path& root) {
  std::vector<std::string> found;
  std::error_code ec;
  if (std::filesystem::is_regular_file(root, ec)) return {root.string()};
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::end(it); it.increment(ec)) {
    if (it->is_directory(ec) && excluded_dir(it->path())) {
      it.disable_recursion_pending();
    } else if (it->is_regular_file(ec)) {
      auto ext = it->path().extension();
      if (ext == ".py" || ext == ".pyi") found.push_back(it->path().string());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace korvane::bench
