// The cross-file symbol index of one indexFiles request: a table of module-level names per
// module file, and the resolution of imported names (aliases and star imports) through those
// tables to the module that really defines them.
//
//   auto parses = std::make_shared<ParseCache>();
//   CrossFileResolver resolver(config, parses, python_version);
//   resolver.build_from_files(files, /*parallel=*/true);
//   resolver.preindex_common_stdlib_modules();
//   auto where = resolver.resolve_alias("/ws/a.py", "b", "x");   // follows b -> c -> ...
//
// Thread-safety: `build_module_table` only reads the resolver and may run on many threads at
// once; everything that resolves (aliases, star imports, on-demand tables) needs exclusive use.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <absl/hash/hash.h>

#include "binder/binder.h"
#include "cross_file/parse_cache.h"
#include "import_resolver/import_resolver.h"
#include "indexer/indexed_file.h"

namespace korvane::cross_file {

inline constexpr std::string_view kResolverLogTarget = "korvane_indexer::cross_file_resolver";

// Deepest alias step still followed; a chain visits at most kMaxAliasDepth + 1 modules.
inline constexpr uint32_t kMaxAliasDepth = 31;

// Standard-library modules whose tables are built up front, so that common alias chains end
// without on-demand work.
extern const std::array<std::string_view, 57> kCommonStdlibModules;

// One entry per module-level name of every module a request touches: kept small, as the tables
// of a whole environment are held together (the name is the map's key, and most names carry no
// alias).
struct ModuleSymbolEntry {
  // From the symbol's first import declaration.
  std::unique_ptr<const binder::AliasInfo> alias_info;
  uint32_t kind = 0;   // LSP SymbolKind by indexer::KindRule::kModuleTable
  uint32_t flags = 0;  // binder::SymbolFlags, unchanged
};

struct ModuleSymbolTable {
  std::string file_path;
  std::string module_name;
  // Every module-level name, private, hidden and import-only ones included.
  binder::NameMap<ModuleSymbolEntry> symbol_map;
  std::optional<std::vector<std::string>> dunder_all;
  std::vector<std::string> wildcard_imports;  // module texts, statement order
};

// Tables are immutable once stored; holders share them instead of copying.
using SharedTable = std::shared_ptr<const ModuleSymbolTable>;

// Where an imported name is defined.
struct ResolvedSymbolInfo {
  std::string path;
  std::string name;
  uint32_t kind = 0;
  bool is_visible = false;

  friend bool operator==(const ResolvedSymbolInfo&, const ResolvedSymbolInfo&) = default;
};

class CrossFileResolver {
 public:
  CrossFileResolver(import_resolver::ImportResolverConfig config,
                    std::shared_ptr<ParseCache> parse_cache,
                    std::optional<binder::PythonVersion> python_version);

  // Reads, parses (through the parse cache), binds and converts one file; none when it cannot
  // be read or parsed. Does not touch the resolver's maps.
  std::optional<ModuleSymbolTable> build_module_table(
      const indexer::FileToIndex& file, const std::optional<std::string>& module_name) const;

  static ModuleSymbolTable convert_binder_result(const binder::BinderResult& result,
                                                 std::string file_path, std::string module_name);

  // The table stored under `path`, built and stored now when missing; none when the file
  // cannot be read or parsed (then nothing is stored and a later call tries again). Throws
  // std::bad_alloc when the build runs out of memory, now or earlier in this request.
  SharedTable index_file_on_demand(std::string_view path, std::string_view module_name);

  // The definition behind `name` imported from `module_text` by the file at `from_path`.
  // Memoised per (from_path, module_text, name), failures included.
  std::optional<ResolvedSymbolInfo> resolve_alias(std::string_view from_path,
                                                  std::string_view module_text,
                                                  std::string_view name);
  std::optional<ResolvedSymbolInfo> resolve_alias_internal(std::string_view from_path,
                                                           std::string_view module_text,
                                                           std::string_view name, uint32_t depth);

  // The names brought in by the star imports of the module stored under `path`, each with its
  // definition, in statement order.
  std::vector<std::pair<std::string, ResolvedSymbolInfo>> resolve_wildcard_imports(
      std::string_view path);

  // The module name a batch file's table is built with: the client's dotted name as given, a
  // name computed from the search roots, or the client's top-level name widened by the computed
  // one when that starts with it.
  std::optional<std::string> compute_module_name(const indexer::FileToIndex& file) const;

  // Builds one table per file (over the worker pool when `parallel`), then stores them in batch
  // order so that both ways give the same maps. A build that runs out of memory beside others
  // is tried again alone; one that runs out alone stores nothing and marks its path (see
  // ran_out_of_memory).
  void build_from_files(std::span<const indexer::FileToIndex> files, bool parallel);

  // Tables of kCommonStdlibModules from the typeshed standard-library path, when configured.
  void preindex_common_stdlib_modules();

  // Whether building the table of `path` ran out of memory in this request. Such a path is not
  // built again: each try would take as much memory as the first.
  bool ran_out_of_memory(std::string_view path) const { return out_of_memory_.contains(path); }

  // Stores `table` under its path, and its module name when not empty; a later table of the
  // same path or name replaces the earlier one.
  void insert_table(ModuleSymbolTable table, bool map_module_name);

  const binder::NameMap<SharedTable>& modules() const { return modules_; }
  const binder::NameMap<std::string>& module_names() const { return module_names_; }
  import_resolver::ImportResolver& import_resolver() { return import_resolver_; }
  const import_resolver::ImportResolver& import_resolver() const { return import_resolver_; }
  const std::shared_ptr<ParseCache>& parse_cache() const { return parse_cache_; }
  const std::optional<binder::PythonVersion>& python_version() const { return python_version_; }
  std::size_t alias_memo_size() const { return alias_memo_.size(); }

 private:
  SharedTable find_table(std::string_view path) const;

  binder::NameMap<SharedTable> modules_;
  import_resolver::ImportResolver import_resolver_;
  binder::NameMap<std::string> module_names_;
  std::shared_ptr<ParseCache> parse_cache_;
  // Node-based: its entries are large and many, and a flat table's growth would briefly hold
  // two copies of every one of them. The standard's own, as absl's node tables do not survive
  // an allocation that fails while inserting.
  std::unordered_map<std::tuple<std::string, std::string, std::string>,
                     std::optional<ResolvedSymbolInfo>,
                     absl::Hash<std::tuple<std::string, std::string, std::string>>>
      alias_memo_;
  std::optional<binder::PythonVersion> python_version_;
  binder::NameSet out_of_memory_;
};

}  // namespace korvane::cross_file
