#include "import_resolver/import_resolver.h"

#include <algorithm>
#include <system_error>

#include <fmt/format.h>

#include "import_resolver/path_text.h"
#include "log/log.h"
#include "util/display_text.h"
#include "util/unicode_text.h"

namespace korvane::import_resolver {
namespace {

constexpr std::string_view kTarget = "korvane_indexer::import_resolver";

namespace fs = std::filesystem;

bool probe_file(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool probe_directory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

std::optional<ResolvedImport> init_file_in(const fs::path& directory) {
  if (fs::path stub = directory / "__init__.pyi"; probe_file(stub)) {
    return ResolvedImport{std::move(stub), true, false};
  }
  if (fs::path source = directory / "__init__.py"; probe_file(source)) {
    return ResolvedImport{std::move(source), false, false};
  }
  return std::nullopt;
}

// A directory without an __init__ file counts as a package on the way only when it holds
// something importable: a .py/.pyi file or a subdirectory.
bool is_namespace_portion(const fs::path& directory) {
  std::error_code ec;
  fs::directory_iterator it(directory, ec);
  if (ec) return false;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return false;
    const fs::path& entry = it->path();
    if (probe_directory(entry)) return true;
    if (!probe_file(entry)) continue;
    const fs::path extension = entry.filename().extension();
    if (extension == ".py" || extension == ".pyi") return true;
  }
  return false;
}

std::vector<std::string_view> split_dots(std::string_view name) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = name.find('.', start);
    if (dot == std::string_view::npos) {
      pieces.push_back(name.substr(start));
      return pieces;
    }
    pieces.push_back(name.substr(start, dot - start));
    start = dot + 1;
  }
}

std::optional<ResolvedImport> resolve_last_piece(const fs::path& directory, std::string_view last) {
  if (fs::path stub = directory / fmt::format("{}.pyi", last); probe_file(stub)) {
    return ResolvedImport{std::move(stub), true, false};
  }
  if (fs::path source = directory / fmt::format("{}.py", last); probe_file(source)) {
    return ResolvedImport{std::move(source), false, false};
  }
  fs::path package = directory / std::string(last);
  if (!probe_directory(package)) return std::nullopt;
  if (auto init = init_file_in(package)) return init;
  return ResolvedImport{std::move(package), false, true};
}

// Root text for prefix matching: slashes only, and always ending in one.
std::string root_prefix(const fs::path& root) {
  std::string text = path_to_text(root);
  for (char& ch : text) {
    if (ch == '\\') ch = '/';
  }
  if (text.empty() || text.back() != '/') text.push_back('/');
  return text;
}

}  // namespace

ImportResolver::ImportResolver(ImportResolverConfig config) : config_(std::move(config)) {}

void ImportResolver::update_config(ImportResolverConfig config) {
  config_ = std::move(config);
  resolution_cache_.clear();
}

std::vector<std::reference_wrapper<const fs::path>> ImportResolver::get_search_paths() const {
  std::vector<std::reference_wrapper<const fs::path>> roots;
  roots.reserve(config_.extra_paths.size() + config_.workspace_roots.size() +
                config_.site_packages_paths.size() + 2);
  for (const auto& root : config_.extra_paths) roots.emplace_back(root);
  for (const auto& root : config_.workspace_roots) roots.emplace_back(root);
  if (config_.typeshed_stdlib_path) roots.emplace_back(*config_.typeshed_stdlib_path);
  for (const auto& root : config_.site_packages_paths) roots.emplace_back(root);
  if (config_.typeshed_thirdparty_path) roots.emplace_back(*config_.typeshed_thirdparty_path);
  return roots;
}

std::optional<ResolvedImport> ImportResolver::resolve_import(std::string_view module_name,
                                                             const fs::path& importing_file) {
  const std::optional<std::string_view> directory = parent_of(importing_file.native());
  if (!directory) return std::nullopt;

  std::pair<std::string, std::string> key(std::string(module_name), normalized_key(*directory));
  if (auto hit = resolution_cache_.find(key); hit != resolution_cache_.end()) return hit->second;

  std::size_t dots = 0;
  while (dots < module_name.size() && module_name[dots] == '.') ++dots;
  std::optional<ResolvedImport> result =
      dots == 0 ? resolve_absolute_import(module_name)
                : resolve_relative_import(module_name, dots, std::string(*directory));
  resolution_cache_.insert_or_assign(std::move(key), result);
  return result;
}

std::optional<ResolvedImport> ImportResolver::resolve_relative_import(std::string_view module_name,
                                                                      std::size_t dots,
                                                                      std::string directory) {
  const std::string_view remainder = module_name.substr(dots);
  for (std::size_t level = 1; level < dots; ++level) {
    const std::optional<std::string_view> parent = parent_of(directory);
    if (!parent) return std::nullopt;
    directory = std::string(*parent);
  }
  KLOG_DEBUG(kTarget, "Resolving relative import '{}' with {} dots from {}", remainder, dots,
             debug_quoted(directory));
  return resolve_module_from_directory(remainder, fs::path(directory));
}

std::optional<ResolvedImport> ImportResolver::resolve_absolute_import(
    std::string_view module_name) const {
  KLOG_DEBUG(kTarget, "Resolving absolute import '{}'", module_name);
  for (const fs::path& root : get_search_paths()) {
    if (auto found = resolve_module_from_directory(module_name, root)) {
      KLOG_DEBUG(kTarget, "Found '{}' in {}", module_name, debug_quoted(root.native()));
      return found;
    }
  }
  KLOG_TRACE(kTarget, "Could not resolve '{}'", module_name);
  return std::nullopt;
}

std::optional<ResolvedImport> ImportResolver::resolve_module_from_directory(
    std::string_view module_name, const fs::path& directory) {
  if (module_name.empty()) return init_file_in(directory);

  const std::vector<std::string_view> pieces = split_dots(module_name);
  fs::path current = directory;
  for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
    current /= std::string(pieces[i]);
    if (!probe_directory(current)) return std::nullopt;
    if (probe_file(current / "__init__.py") || probe_file(current / "__init__.pyi")) continue;
    if (!is_namespace_portion(current)) return std::nullopt;
  }
  return resolve_last_piece(current, pieces.back());
}

std::optional<std::string> ImportResolver::module_name_from_path(const fs::path& path) const {
  std::string normalized = path_to_text(path);
  for (char& ch : normalized) {
    if (ch == '\\') ch = '/';
  }
  const std::string lowered = unicode_lowercase(normalized);

  std::optional<std::string> root_text;
  for (const fs::path& root : get_search_paths()) {
    std::string prefix = root_prefix(root);
    if (lowered.starts_with(unicode_lowercase(prefix))) {
      root_text = std::move(prefix);
      break;
    }
  }
  if (!root_text) return std::nullopt;

  // Lower-casing may change byte lengths; cutting by the root's own length never overruns.
  std::string name = normalized.substr(std::min(root_text->size(), normalized.size()));
  if (name.ends_with(".pyi")) {
    name.resize(name.size() - 4);
  } else if (name.ends_with(".py")) {
    name.resize(name.size() - 3);
  }
  if (name.ends_with("/__init__")) {
    name.resize(name.size() - 9);
  } else if (name == "__init__") {
    name.clear();
  }
  for (char& ch : name) {
    if (ch == '/') ch = '.';
  }
  return name;
}

}  // namespace korvane::import_resolver
