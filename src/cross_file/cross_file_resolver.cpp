#include "cross_file/cross_file_resolver.h"

#include <filesystem>
#include <new>
#include <system_error>

#include "indexer/indexer.h"
#include "indexer/symbol_rules.h"
#include "log/log.h"
#include "util/profiling.h"
#include "util/worker_pool.h"

namespace korvane::cross_file {
namespace {

namespace fs = std::filesystem;
using binder::DeclarationKind;
using binder::SymbolFlags;

std::unique_ptr<const binder::AliasInfo> alias_of(const binder::Symbol& symbol) {
  const binder::AliasInfo* alias = indexer::first_alias_info(symbol);
  return alias != nullptr ? std::make_unique<const binder::AliasInfo>(*alias) : nullptr;
}

ResolvedSymbolInfo definition_in(const ModuleSymbolTable& table, const ModuleSymbolEntry& entry,
                                 std::string_view name) {
  return ResolvedSymbolInfo{table.file_path, std::string(name), entry.kind,
                            (entry.flags & SymbolFlags::kHidden) == 0};
}

// The names a star import of `table` brings in: its __all__ when it has one (even empty), else
// every bound name that does not start with "_".
std::vector<std::string_view> star_exported_names(const ModuleSymbolTable& table) {
  std::vector<std::string_view> names;
  if (table.dunder_all) {
    names.assign(table.dunder_all->begin(), table.dunder_all->end());
    return names;
  }
  for (const auto& [name, entry] : table.symbol_map) {
    if (!name.starts_with('_')) names.push_back(name);
  }
  return names;
}

}  // namespace

// A plain list, in pre-indexing order.
// clang-format off
const std::array<std::string_view, 57> kCommonStdlibModules = {
    "abc", "builtins", "types", "typing", "typing_extensions", "_typeshed", "collections",
    "collections.abc", "dataclasses", "datetime", "decimal", "enum", "fractions", "numbers",
    "contextlib", "functools", "itertools", "operator", "io", "os", "os.path", "pathlib", "sys",
    "warnings", "re", "string", "json", "pickle", "struct", "math", "cmath", "random",
    "statistics", "asyncio", "concurrent", "concurrent.futures", "threading", "multiprocessing",
    "ctypes", "array", "mmap", "inspect", "traceback", "copy", "time", "calendar", "locale",
    "gzip", "zipfile", "bz2", "lzma", "http", "urllib", "urllib.parse", "email", "unittest",
    "unittest.mock"};
// clang-format on

CrossFileResolver::CrossFileResolver(import_resolver::ImportResolverConfig config,
                                     std::shared_ptr<ParseCache> parse_cache,
                                     std::optional<binder::PythonVersion> python_version)
    : import_resolver_(std::move(config)),
      parse_cache_(std::move(parse_cache)),
      python_version_(python_version) {}

std::optional<ModuleSymbolTable> CrossFileResolver::build_module_table(
    const indexer::FileToIndex& file, const std::optional<std::string>& module_name) const {
  profiling::TimingGuard total("build_module_table");
  std::optional<CachedParse> parse;
  {
    profiling::TimingGuard timer("cfr_parse_cached");
    parse = parse_cache_->get_or_parse(file.path);
  }
  if (!parse) return std::nullopt;

  try {
    std::string name = module_name ? *module_name : file.module_name.value_or("");
    binder::FileInfo info = indexer::file_info(file, name, python_version_);
    std::optional<binder::BinderResult> bound;
    {
      profiling::TimingGuard timer("cfr_bind");
      bound = binder::Binder(std::move(info)).bind_module(parse->module->body());
    }
    profiling::TimingGuard timer("cfr_convert");
    return convert_binder_result(*bound, file.path, std::move(name));
  } catch (const std::bad_alloc&) {
    // A tree kept for a table that was never built would only hold memory that is short.
    parse.reset();
    parse_cache_->release(file.path);
    throw;
  }
}

ModuleSymbolTable CrossFileResolver::convert_binder_result(const binder::BinderResult& result,
                                                           std::string file_path,
                                                           std::string module_name) {
  ModuleSymbolTable table;
  table.file_path = std::move(file_path);
  table.module_name = std::move(module_name);
  if (result.dunder_all) {
    table.dunder_all.emplace(result.dunder_all->begin(), result.dunder_all->end());
  }
  table.wildcard_imports.reserve(result.wildcard_imports.size());
  for (const binder::WildcardImport& wildcard : result.wildcard_imports) {
    table.wildcard_imports.push_back(wildcard.module_name);
  }
  table.symbol_map.reserve(result.module_scope.symbol_map.size());
  for (const auto& [name, symbol] : result.module_scope.symbol_map) {
    const uint32_t kind =
        indexer::symbol_kind(name, symbol.declarations, indexer::KindRule::kModuleTable);
    if (symbol.declarations.has_kind(DeclarationKind::Class)) {
      KLOG_TRACE(kResolverLogTarget, "convert_binder_result: {} is Class, kind={}", name, kind);
    }
    table.symbol_map.emplace(name, ModuleSymbolEntry{alias_of(symbol), kind, symbol.flags});
  }
  return table;
}

SharedTable CrossFileResolver::find_table(std::string_view path) const {
  auto it = modules_.find(path);
  return it == modules_.end() ? nullptr : it->second;
}

void CrossFileResolver::insert_table(ModuleSymbolTable table, bool map_module_name) {
  if (map_module_name && !table.module_name.empty()) {
    module_names_.insert_or_assign(table.module_name, table.file_path);
  }
  std::string path = table.file_path;
  modules_.insert_or_assign(std::move(path),
                            std::make_shared<const ModuleSymbolTable>(std::move(table)));
}

SharedTable CrossFileResolver::index_file_on_demand(std::string_view path,
                                                    std::string_view module_name) {
  profiling::TimingGuard timer("on_demand_index");
  if (SharedTable existing = find_table(path)) return existing;
  indexer::FileToIndex file;
  file.path = std::string(path);
  file.module_name = std::string(module_name);
  // Case-sensitive on purpose: only the exact ".pyi" suffix marks a stub.
  file.is_stub = path.ends_with(".pyi");
  // Thrown again rather than answered "no table": a module that did not fit must not look like
  // one that exports nothing.
  if (ran_out_of_memory(path)) throw std::bad_alloc();
  std::optional<ModuleSymbolTable> table;
  try {
    table = build_module_table(file, file.module_name);
  } catch (const std::bad_alloc&) {
    KLOG_WARN(kResolverLogTarget, "Out of memory while building the table of {}", path);
    out_of_memory_.emplace(path);
    throw;
  }
  if (!table) return nullptr;
  // Its table is all that is asked of a module outside the batch from now on.
  parse_cache_->release(path);
  insert_table(std::move(*table), /*map_module_name=*/false);
  return find_table(path);
}

std::optional<ResolvedSymbolInfo> CrossFileResolver::resolve_alias(std::string_view from_path,
                                                                   std::string_view module_text,
                                                                   std::string_view name) {
  profiling::TimingGuard timer("resolve_alias");
  std::tuple<std::string, std::string, std::string> key(from_path, module_text, name);
  if (auto hit = alias_memo_.find(key); hit != alias_memo_.end()) return hit->second;
  std::optional<ResolvedSymbolInfo> result =
      resolve_alias_internal(from_path, module_text, name, 0);
  alias_memo_.emplace(std::move(key), result);
  return result;
}

std::optional<ResolvedSymbolInfo> CrossFileResolver::resolve_alias_internal(
    std::string_view from_path, std::string_view module_text, std::string_view name,
    uint32_t depth) {
  // No visited set: the depth limit alone ends import cycles.
  if (depth > kMaxAliasDepth) {
    KLOG_TRACE(kResolverLogTarget, "Max alias resolution depth reached for {}.{}", module_text,
               name);
    return std::nullopt;
  }
  std::optional<import_resolver::ResolvedImport> resolved =
      import_resolver_.resolve_import(module_text, fs::path(from_path));
  if (!resolved) return std::nullopt;
  if (resolved->is_namespace_package) {
    KLOG_TRACE(kResolverLogTarget, "Cannot resolve alias in namespace package: {}", module_text);
    return std::nullopt;
  }
  const std::string target_path = import_resolver::path_to_text(resolved->path);
  SharedTable table = find_table(target_path);
  if (!table) {
    KLOG_TRACE(kResolverLogTarget, "Target module not indexed, indexing on-demand: {}",
               target_path);
    table = index_file_on_demand(target_path, module_text);
    if (!table) return std::nullopt;
  }
  auto entry = table->symbol_map.find(name);
  if (entry == table->symbol_map.end()) return std::nullopt;
  if (const auto& alias = entry->second.alias_info) {
    const std::string_view next_name = alias->imported_name ? *alias->imported_name : name;
    return resolve_alias_internal(table->file_path, alias->module_name, next_name, depth + 1);
  }
  return definition_in(*table, entry->second, name);
}

std::vector<std::pair<std::string, ResolvedSymbolInfo>> CrossFileResolver::resolve_wildcard_imports(
    std::string_view path) {
  std::vector<std::pair<std::string, ResolvedSymbolInfo>> pairs;
  SharedTable own = find_table(path);
  if (!own || own->wildcard_imports.empty()) return pairs;
  KLOG_TRACE(kResolverLogTarget, "Resolving {} wildcard imports for {}",
             own->wildcard_imports.size(), path);
  for (const std::string& module_text : own->wildcard_imports) {
    auto resolved = import_resolver_.resolve_import(module_text, fs::path(path));
    if (!resolved) {
      KLOG_TRACE(kResolverLogTarget, "Could not resolve wildcard import module: {}", module_text);
      continue;
    }
    if (resolved->is_namespace_package) {
      KLOG_TRACE(kResolverLogTarget, "Skipping namespace package for wildcard import: {}",
                 module_text);
      continue;
    }
    const std::string target_path = import_resolver::path_to_text(resolved->path);
    SharedTable target = find_table(target_path);
    if (!target) {
      KLOG_TRACE(kResolverLogTarget, "On-demand indexing for wildcard target: {} -> {}",
                 module_text, target_path);
      target = index_file_on_demand(target_path, module_text);
      if (!target) {
        KLOG_TRACE(kResolverLogTarget,
                   "Failed to index target module for wildcard import: {} -> {}", module_text,
                   target_path);
        continue;
      }
    }
    for (std::string_view name : star_exported_names(*target)) {
      auto entry = target->symbol_map.find(name);
      if (entry == target->symbol_map.end()) continue;
      const auto& alias = entry->second.alias_info;
      if (!alias) {
        pairs.emplace_back(std::string(name), definition_in(*target, entry->second, name));
        continue;
      }
      const std::string_view lookup = alias->imported_name ? *alias->imported_name : name;
      if (auto found = resolve_alias(target->file_path, alias->module_name, lookup)) {
        pairs.emplace_back(std::string(name), std::move(*found));
      }
    }
  }
  KLOG_DEBUG(kResolverLogTarget, "Resolved {} wildcard import symbols for {}", pairs.size(), path);
  return pairs;
}

std::optional<std::string> CrossFileResolver::compute_module_name(
    const indexer::FileToIndex& file) const {
  profiling::TimingGuard timer("compute_module_name");
  if (!file.module_name) return import_resolver_.module_name_from_path(file.path);
  const std::string& given = *file.module_name;
  if (given.find('.') != std::string::npos) return given;
  std::optional<std::string> computed = import_resolver_.module_name_from_path(file.path);
  if (computed && computed->starts_with(given)) return computed;
  return given;
}

void CrossFileResolver::build_from_files(std::span<const indexer::FileToIndex> files,
                                         bool parallel) {
  KLOG_DEBUG(kResolverLogTarget, "Building cross-file symbol table from {} files", files.size());
  std::vector<std::optional<std::string>> names;
  names.reserve(files.size());
  for (const indexer::FileToIndex& file : files) names.push_back(compute_module_name(file));

  // Each slot is written by exactly one call; the maps are filled afterwards in batch order, so
  // the parallel and the sequential build end alike.
  std::vector<std::optional<ModuleSymbolTable>> tables(files.size());
  std::vector<char> lost(files.size(), 0);
  auto build = [&](std::size_t i) {
    // Caught on the thread that ran out, so that only this file's table is lost.
    try {
      tables[i] = build_module_table(files[i], names[i]);
      lost[i] = 0;
    } catch (const std::bad_alloc&) {
      lost[i] = 1;
    }
    return !lost[i];
  };
  if (parallel) {
    // A table lost beside the others' is built once more on this thread alone.
    const worker_pool::Workers workers =
        worker_pool::parallel_for_each_index_retrying(files.size(), build);
    if (auto shortfall = worker_pool::shortfall_text(workers)) {
      KLOG_WARN(kResolverLogTarget, "{}", *shortfall);
    }
  } else {
    for (std::size_t i = 0; i < files.size(); ++i) build(i);
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (lost[i]) {
      KLOG_WARN(kResolverLogTarget, "Out of memory while building the table of {}", files[i].path);
      out_of_memory_.insert(files[i].path);
    } else if (tables[i]) {
      out_of_memory_.erase(files[i].path);  // a later entry of the same path fitted after all
      insert_table(std::move(*tables[i]), /*map_module_name=*/true);
    }
  }
  KLOG_DEBUG(kResolverLogTarget, "Built symbol table with {} modules, {} module name mappings",
             modules_.size(), module_names_.size());
}

void CrossFileResolver::preindex_common_stdlib_modules() {
  profiling::TimingGuard timer("preindex_stdlib");
  const auto& stdlib = import_resolver_.config().typeshed_stdlib_path;
  if (!stdlib) return;
  std::size_t count = 0;
  for (std::string_view dotted : kCommonStdlibModules) {
    std::string relative(dotted);
    for (char& ch : relative) {
      if (ch == '.') ch = '/';
    }
    std::error_code ec;
    fs::path file = *stdlib / (relative + ".pyi");
    if (!fs::exists(file, ec)) {
      file = *stdlib / relative / "__init__.pyi";
      if (!fs::exists(file, ec)) continue;
    }
    std::string path_text = import_resolver::path_to_text(file);
    // A batch file under the same path keeps its own table and flags.
    if (modules_.contains(path_text)) continue;
    indexer::FileToIndex stub;
    stub.path = std::move(path_text);
    stub.module_name = std::string(dotted);
    stub.include_all_symbols = true;
    stub.is_stub = true;
    stub.is_py_typed = true;
    try {
      std::optional<ModuleSymbolTable> table = build_module_table(stub, stub.module_name);
      if (!table) continue;
      insert_table(std::move(*table), /*map_module_name=*/true);
      ++count;
    } catch (const std::bad_alloc&) {
      // Only the files that import from it need it; they are answered as out of memory.
      KLOG_WARN(kResolverLogTarget, "Out of memory while building the table of {}", stub.path);
      out_of_memory_.insert(stub.path);
    }
  }
  if (count > 0) {
    KLOG_DEBUG(kResolverLogTarget, "Pre-indexed {} common stdlib modules from typeshed", count);
  }
}

}  // namespace korvane::cross_file
