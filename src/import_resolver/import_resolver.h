// Resolves dotted Python module names to the stub or source file that defines them, and file
// paths back to dotted module names, over the configured search roots.
//
//   ImportResolver resolver(config);
//   auto found = resolver.resolve_import("..util", "/p/pkg/sub/mod.py");
//   if (found && !found->is_namespace_package) index(found->path);
//   auto name = resolver.module_name_from_path("/ws/pkg/mod.py");  // "pkg.mod" under root /ws
//
// Thread-safety: `resolve_import` fills the resolution cache and needs exclusive access;
// `get_search_paths` and `module_name_from_path` only read the configuration;
// `resolve_module_from_directory` touches no resolver state at all.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "util/growth_safe_table.h"

namespace korvane::import_resolver {

// The search roots, in declaration order of the client's search-path record.
struct ImportResolverConfig {
  std::vector<std::filesystem::path> extra_paths;
  std::vector<std::filesystem::path> workspace_roots;
  std::optional<std::filesystem::path> typeshed_stdlib_path;
  std::optional<std::filesystem::path> typeshed_thirdparty_path;
  std::vector<std::filesystem::path> site_packages_paths;

  bool operator==(const ImportResolverConfig&) const = default;
};

struct ResolvedImport {
  // The module file, or the package directory of a namespace package.
  std::filesystem::path path;
  bool is_stub = false;
  bool is_namespace_package = false;

  bool operator==(const ResolvedImport&) const = default;
};

class ImportResolver {
 public:
  // A resolver over `config` with an empty resolution cache.
  explicit ImportResolver(ImportResolverConfig config = {});

  // Replaces the configuration whole and forgets every cached resolution.
  void update_config(ImportResolverConfig config);

  const ImportResolverConfig& config() const { return config_; }

  // Extra paths, workspace roots, typeshed stdlib, site-packages, typeshed third-party; duplicates
  // kept, nothing checked for existence.
  std::vector<std::reference_wrapper<const std::filesystem::path>> get_search_paths() const;

  // Resolves `module_name` (leading dots make it relative to the importing file's directory).
  // Results, misses included, are cached by (module text, importing directory).
  std::optional<ResolvedImport> resolve_import(std::string_view module_name,
                                               const std::filesystem::path& importing_file);

  // Finds `module_name` below `directory`: stub before source, module file before package.
  static std::optional<ResolvedImport> resolve_module_from_directory(
      std::string_view module_name, const std::filesystem::path& directory);

  // The dotted module name of `path` under the first search root that is a case-insensitive
  // prefix of it; none when no root matches.
  std::optional<std::string> module_name_from_path(const std::filesystem::path& path) const;

  std::size_t resolution_cache_size() const { return resolution_cache_.size(); }

 private:
  std::optional<ResolvedImport> resolve_absolute_import(std::string_view module_name) const;
  static std::optional<ResolvedImport> resolve_relative_import(std::string_view module_name,
                                                               std::size_t dots,
                                                               std::string directory);

  ImportResolverConfig config_;
  // Key: module text as given, and the importing directory with its components normalised, so
  // "a//b/" and "a/b" share an entry.
  GrowthSafe<
      absl::flat_hash_map<std::pair<std::string, std::string>, std::optional<ResolvedImport>>>
      resolution_cache_;
};

// Path text for messages and map keys: the bytes of `path` with invalid UTF-8 replaced by U+FFFD.
std::string path_to_text(const std::filesystem::path& path);

}  // namespace korvane::import_resolver
