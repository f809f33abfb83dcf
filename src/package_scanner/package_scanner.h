// Lists the module files of package trees under a set of search roots.
//
//   ScanConfig config;
//   config.roots = {"/usr/lib/python3/dist-packages"};
//   config.default_depth = {2, false};
//   PackageScanner scanner(std::move(config));
//   ScanResult result = scanner.scan();
//   for (const ModuleFileInfo& file : result.files) use(file.path, file.package_name);
//
// Only directory listings and status probes are made; no file is ever opened. Entries come in
// the order the file system lists them, depth first, never sorted.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include "util/growth_safe_table.h"

namespace korvane::package_scanner {

class DirListing;

inline constexpr uint32_t kUnlimitedDepth = 4294967295u;

// How deep one package is listed. The package directory is level 1, its subdirectories level 2;
// a directory is listed when its level is at most `max_depth`.
struct DepthLimit {
  uint32_t max_depth = 1;
  bool include_all_symbols = false;

  friend bool operator==(const DepthLimit&, const DepthLimit&) = default;
};

// Which configured stub trees a root lies under; more than one holds when the trees nest.
struct RootKind {
  bool is_stdlib = false;
  bool is_typeshed_stub = false;
  bool is_bundled_stub = false;

  friend bool operator==(const RootKind&, const RootKind&) = default;
};

struct ScanConfig {
  std::vector<std::string> roots;  // scanned in this order, each text taken as a path unchanged
  std::optional<std::string> typeshed_stdlib_path;
  std::optional<std::string> typeshed_thirdparty_path;
  std::optional<std::string> bundled_stub_path;
  DepthLimit default_depth;
  // Keyed by the exact name of a directory directly in a root.
  GrowthSafe<absl::flat_hash_map<std::string, DepthLimit>> package_depths;
  // Skipped only inside the standard-library stub tree.
  absl::flat_hash_set<std::string> excluded_modules = {"__future__", "this", "antigravity"};
  bool include_third_party = true;
};

struct ModuleFileInfo {
  std::string path;  // raw bytes: the root text joined with directory and file names
  bool is_stdlib = false;
  bool is_typeshed_stub = false;
  bool is_bundled_stub = false;
  std::optional<std::string> package_name;
  bool py_typed_package = false;
  bool include_all_symbols = false;
  bool is_stub = false;

  friend bool operator==(const ModuleFileInfo&, const ModuleFileInfo&) = default;
};

struct ScanResult {
  std::vector<ModuleFileInfo> files;
  uint32_t packages_scanned = 0;  // stub files directly in a root plus top-level directories walked
  uint64_t elapsed_ms = 0;
};

// One scanner per request: `namespace_depth_cache` lives exactly as long as the scanner.
// Not thread-safe; `scan` fills the cache.
class PackageScanner {
 public:
  explicit PackageScanner(ScanConfig config);

  // Never fails: unreadable roots and directories are skipped (and logged).
  ScanResult scan();

  // Appends the module files of `dir` (level `depth`) and of its subdirectories down to
  // `max_depth`. `parent` is the dotted name of the nearest package at or above `dir`.
  static void scan_package(const std::string& dir, RootKind kind,
                           const std::optional<std::string>& parent, bool py_typed,
                           uint32_t max_depth, bool include_all_symbols, uint32_t depth,
                           std::vector<ModuleFileInfo>& out);

  // Status probes, following symbolic links; any kind of entry counts.
  static bool contains_init(const std::string& dir);
  static bool contains_py_typed(const std::string& dir);

  // Test seam: called with the path of each directory that a walk closed to save descriptors,
  // just before it opens that directory again by name, so that a test can change the tree at
  // exactly that point. Empty outside tests; not thread-safe.
  static void set_reopen_hook_for_testing(std::function<void(const std::string&)> hook);

  // The smallest package level (2 to 4) at which a directory with an `__init__` file is reached
  // below `dir` through directories without one; none when there is no such directory.
  std::optional<uint32_t> find_nested_package_depth(const std::string& dir);

  const ScanConfig& config() const { return config_; }

 private:
  RootKind classify_root(const std::string& root) const;
  // `top`, when open, is the listing of `dir` itself, read instead of opening it again.
  std::optional<uint32_t> nested_package_depth(const std::string& dir, DirListing* top);
  DepthLimit package_limit(const std::string& path, const std::string& name, bool has_init,
                           bool is_stdlib, DirListing* top);
  void scan_root(const std::string& root, RootKind kind, ScanResult& result);
  void scan_top_directory(const DirListing& root, const char* entry, const std::string& name,
                          std::string& path, RootKind kind, ScanResult& result);

  ScanConfig config_;
  // Keyed by component_key(dir); searches that found nothing are remembered too.
  GrowthSafe<absl::flat_hash_map<std::string, std::optional<uint32_t>>> namespace_depth_cache_;
};

}  // namespace korvane::package_scanner
