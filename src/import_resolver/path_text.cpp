#include "import_resolver/path_text.h"

#include "import_resolver/import_resolver.h"
#include "util/display_text.h"

namespace korvane::import_resolver {
namespace {

// Drops trailing separators and trailing "." components, never the root itself.
std::string_view trim_right(std::string_view path) {
  while (true) {
    if (path.size() > 1 && path.back() == '/') {
      path.remove_suffix(1);
    } else if (path.size() >= 2 && path.ends_with("/.")) {
      path.remove_suffix(1);
    } else {
      return path;
    }
  }
}

}  // namespace

std::optional<std::string_view> parent_of(std::string_view path) {
  path = trim_right(path);
  if (path.empty() || path == "/") return std::nullopt;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string_view();
  return trim_right(path.substr(0, slash + 1));
}

std::string normalized_key(std::string_view path) {
  std::string key;
  key.reserve(path.size());
  const bool absolute = path.starts_with('/');
  if (absolute) key.push_back('/');
  bool first = true;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view component = path.substr(start, end - start);
    const bool keep = !component.empty() && (component != "." || (first && !absolute));
    if (keep) {
      if (!key.empty() && key.back() != '/') key.push_back('/');
      key.append(component);
    }
    if (!component.empty()) first = false;
    start = end + 1;
  }
  return key;
}

std::string path_to_text(const std::filesystem::path& path) { return utf8_lossy(path.native()); }

}  // namespace korvane::import_resolver
