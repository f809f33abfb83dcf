// The cross-file road of the Indexer: the batch driver and the per-file step that follows
// import-only names and star imports into the modules that define them.
#include <chrono>
#include <memory>

#include <absl/container/flat_hash_map.h>

#include "cross_file/cross_file_resolver.h"
#include "cross_file/duration_text.h"
#include "cross_file/parse_cache.h"
#include "indexer/indexer.h"
#include "indexer/profiling.h"
#include "log/log.h"
#include "util/memory_release.h"

namespace korvane::indexer {
namespace {

using binder::SymbolFlags;
using cross_file::CrossFileResolver;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kResolvedImportKind = 2;

bool is_restricted(const protocol::FileToIndex& file) { return file.is_stub || file.is_py_typed; }

// An import-only name keeps stricter company than a declared one: a stub keeps it even hidden,
// and asking for all symbols keeps it in any file.
bool admits_import_only(const protocol::FileToIndex& file, uint32_t flags) {
  if (file.is_stub || file.include_all_symbols) return true;
  if (file.is_py_typed) return (flags & SymbolFlags::kHiddenMask) == 0;
  return (flags & SymbolFlags::IN_DUNDER_ALL) != 0;
}

uint32_t visibility_of(const protocol::FileToIndex& file, uint32_t flags) {
  const uint32_t listed =
      (flags & SymbolFlags::IN_DUNDER_ALL) != 0 ? protocol::kVisibilityInDunderAll : 0;
  if (!is_restricted(file) && file.include_all_symbols) return protocol::kVisibilityPublic | listed;
  return ((flags & SymbolFlags::HIDDEN) == 0 ? protocol::kVisibilityPublic : 0) | listed;
}

protocol::IndexedSymbol resolved_symbol(std::string name, uint32_t visibility,
                                        const cross_file::ResolvedSymbolInfo& info) {
  return protocol::IndexedSymbol{std::move(name), visibility, kResolvedImportKind,
                                 protocol::SymbolAlias{info.name, info.path, info.kind}};
}

std::optional<protocol::IndexedSymbol> convert_import_only(std::string_view name,
                                                           const binder::Symbol& symbol,
                                                           const protocol::FileToIndex& file,
                                                           CrossFileResolver& resolver) {
  const binder::AliasInfo* alias = nullptr;
  for (const binder::Declaration& declaration : symbol.declarations) {
    if (declaration.alias_info) {
      alias = &*declaration.alias_info;
      break;
    }
  }
  if (alias == nullptr) return std::nullopt;
  // A plain `import m` looks its own bound name up inside m.
  const std::string_view lookup = alias->imported_name ? *alias->imported_name : name;
  auto found = resolver.resolve_alias(file.path, alias->module_name, lookup);
  if (!found || !found->is_visible) return std::nullopt;
  if (!admits_import_only(file, symbol.flags)) return std::nullopt;
  return resolved_symbol(std::string(name), visibility_of(file, symbol.flags), *found);
}

void convert_with_resolver(const binder::BinderResult& bound, const protocol::FileToIndex& file,
                           CrossFileResolver& resolver,
                           std::vector<protocol::IndexedSymbol>& symbols) {
  for (const auto& [name, symbol] : bound.module_scope.symbol_map) {
    if (is_dunder_name(name) && (symbol.flags & SymbolFlags::IN_DUNDER_ALL) == 0) continue;
    if (symbol.declarations.empty()) continue;
    bool declared = false;
    for (const binder::Declaration& declaration : symbol.declarations) {
      declared = declared || declaration.kind != binder::DeclarationKind::Import;
    }
    std::optional<protocol::IndexedSymbol> converted =
        declared ? Indexer::convert_declared_symbol(name, symbol, file)
                 : convert_import_only(name, symbol, file, resolver);
    if (converted) symbols.push_back(std::move(*converted));
  }
}

void merge_wildcard_imports(const binder::BinderResult& bound, const protocol::FileToIndex& file,
                            CrossFileResolver& resolver,
                            std::vector<protocol::IndexedSymbol>& symbols) {
  for (auto& [name, info] : resolver.resolve_wildcard_imports(file.path)) {
    if (name.starts_with('_')) continue;
    bool keep = false;
    if (file.is_stub || file.include_all_symbols) {
      keep = true;
    } else if (bound.dunder_all) {
      keep = bound.dunder_all->contains(name);
    } else {
      keep = file.is_py_typed;
    }
    if (keep)
      symbols.push_back(resolved_symbol(std::move(name), protocol::kVisibilityPublic, info));
  }
}

}  // namespace

protocol::FileIndexResult Indexer::index_file_with_resolver_mut_cached(
    const protocol::FileToIndex& file, CrossFileResolver& resolver,
    const std::shared_ptr<cross_file::ParseCache>& parse_cache) const {
  profiling::TimingGuard total("index_file_with_resolver_mut_cached");
  KLOG_DEBUG(kLogTarget, "Indexing with cross-file resolution (mut, cached): {}", file.path);
  if (auto skipped = check_should_skip_file(file)) return std::move(*skipped);

  std::optional<cross_file::CachedParse> parse = parse_cache->get_or_parse(file.path);
  if (!parse) {
    return protocol::FileIndexResult{file.path, {}, "Failed to parse file", false, std::nullopt};
  }
  if (auto skipped = check_fast_path_skip(file, *parse->source)) return std::move(*skipped);

  std::vector<protocol::IndexedSymbol> symbols;
  {
    profiling::TimingGuard extract("extract_symbols_mut_cached");
    std::optional<binder::BinderResult> bound;
    {
      profiling::TimingGuard bind("bind_module_cached");
      bound = binder::Binder(file_info_for(file)).bind_module(parse->module->body());
    }
    profiling::TimingGuard convert("convert_with_resolver_mut_cached");
    convert_with_resolver(*bound, file, resolver, symbols);
    merge_wildcard_imports(*bound, file, resolver, symbols);
  }
  // A name the file binds itself wins over a star import's, and an earlier star import wins.
  dedup_symbols(symbols);
  return protocol::FileIndexResult{file.path, std::move(symbols), std::nullopt, false,
                                   std::nullopt};
}

std::vector<protocol::FileIndexResult> Indexer::index_files_with_cross_file_resolution(
    std::span<const protocol::FileToIndex> files, bool parallel) const {
  profiling::TimingGuard total("index_files_cross_file");
  KLOG_DEBUG(kLogTarget, "Starting cross-file indexing for {} files", files.size());
  set_indexed_files(files);

  auto parse_cache = std::make_shared<cross_file::ParseCache>();
  const Clock::time_point build_start = Clock::now();
  import_resolver::ImportResolverConfig config;
  if (import_resolver_) {
    std::lock_guard lock(import_resolver_->mutex);
    config = import_resolver_->resolver.config();
  }
  auto resolver =
      std::make_unique<CrossFileResolver>(std::move(config), parse_cache, python_version_);
  resolver->build_from_files(files, parallel);
  resolver->preindex_common_stdlib_modules();
  // What the table builds freed on the pool's threads is of no use to the pass below, which
  // allocates on this thread.
  release_free_memory();
  const Clock::duration build_elapsed = Clock::now() - build_start;
  profiling::record_timing("cross_file_build", profiling::Duration::from(build_elapsed));
  KLOG_DEBUG(kLogTarget, "Built cross-file resolver with {} modules in {} (parse cache size: {})",
             resolver->modules().size(), cross_file::format_duration(build_elapsed),
             parse_cache->len());

  const Clock::time_point pass_start = Clock::now();
  std::vector<protocol::FileIndexResult> results;
  results.reserve(files.size());
  // A file's parse serves nothing after its own indexing unless its path comes again, so it is
  // dropped then: the batch's texts and trees are not all held until the end.
  absl::flat_hash_map<std::string_view, std::size_t> last_use;
  for (std::size_t i = 0; i < files.size(); ++i) last_use[files[i].path] = i;
  for (std::size_t i = 0; i < files.size(); ++i) {
    results.push_back(index_file_with_resolver_mut_cached(files[i], *resolver, parse_cache));
    if (last_use[files[i].path] == i) parse_cache->release(files[i].path);
  }
  const Clock::duration pass_elapsed = Clock::now() - pass_start;
  profiling::record_timing("cross_file_index", profiling::Duration::from(pass_elapsed));
  KLOG_DEBUG(kLogTarget, "Cross-file indexing completed in {}",
             cross_file::format_duration(pass_elapsed));
  // The request's tables and parses go, and their memory back to the system, before the reply
  // is built: it would otherwise come on top of them.
  resolver.reset();
  parse_cache.reset();
  release_free_memory();
  return results;
}

}  // namespace korvane::indexer
