#include "cross_file/cross_file_indexer.h"

#include <chrono>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include <absl/container/flat_hash_map.h>

#include "cross_file/duration_text.h"
#include "indexer/symbol_rules.h"
#include "log/log.h"
#include "util/growth_safe_table.h"
#include "util/profiling.h"

namespace korvane::cross_file {
namespace {

using indexer::FileIndexResult;
using indexer::FileToIndex;
using indexer::IndexedSymbol;
using indexer::kLogTarget;
using Clock = std::chrono::steady_clock;

indexer::SymbolAlias alias_to(const ResolvedSymbolInfo& definition) {
  return indexer::SymbolAlias{definition.name, definition.path, definition.kind};
}

void merge_wildcard_imports(const binder::BinderResult& bound, const FileToIndex& file,
                            CrossFileResolver& resolver, std::vector<IndexedSymbol>& symbols) {
  for (auto& [name, definition] : resolver.resolve_wildcard_imports(file.path)) {
    if (!indexer::admits_star_imported(file, name, bound.dunder_all)) continue;
    symbols.push_back(indexer::imported_symbol(std::move(name), indexer::kVisibilityPublic,
                                               alias_to(definition)));
  }
}

std::vector<IndexedSymbol> extract_symbols(const indexer::Indexer& indexer, const FileToIndex& file,
                                           const CachedParse& parse, CrossFileResolver& resolver) {
  profiling::TimingGuard extract("cross_file_extract_symbols");
  std::optional<binder::BinderResult> bound;
  {
    profiling::TimingGuard bind("bind_module_cached");
    bound = binder::Binder(indexer.file_info_for(file)).bind_module(parse.module->body());
  }
  profiling::TimingGuard convert("cross_file_convert_symbols");
  const indexer::ImportFollower follow =
      [&](std::string_view module_text,
          std::string_view name) -> std::optional<indexer::SymbolAlias> {
    std::optional<ResolvedSymbolInfo> found = resolver.resolve_alias(file.path, module_text, name);
    if (!found || !found->is_visible) return std::nullopt;
    return alias_to(*found);
  };
  std::vector<IndexedSymbol> symbols = indexer::convert_symbols(bound->module_scope, file, &follow);
  merge_wildcard_imports(*bound, file, resolver, symbols);
  return symbols;
}

// The request's resolver: a copy of the Indexer's search paths with an empty resolution cache.
std::unique_ptr<CrossFileResolver> build_resolver(const indexer::Indexer& indexer,
                                                  std::span<const FileToIndex> files, bool parallel,
                                                  std::shared_ptr<ParseCache> parse_cache) {
  auto resolver = std::make_unique<CrossFileResolver>(
      indexer.search_paths(), std::move(parse_cache), indexer.python_version());
  resolver->build_from_files(files, parallel);
  resolver->preindex_common_stdlib_modules();
  return resolver;
}

FileIndexResult index_file_unguarded(const indexer::Indexer& indexer, const FileToIndex& file,
                                     CrossFileResolver& resolver, ParseCache& parse_cache) {
  profiling::TimingGuard total("cross_file_index_file");
  KLOG_DEBUG(kLogTarget, "Indexing with cross-file resolution (mut, cached): {}", file.path);
  if (auto skipped = indexer::Indexer::check_should_skip_file(file)) return std::move(*skipped);
  // Its table could not be built: without it the file's own star imports would silently go
  // missing, and a second parse would most likely fail the same way.
  if (resolver.ran_out_of_memory(file.path)) return indexer::out_of_memory_result(file);

  std::optional<CachedParse> parse = parse_cache.get_or_parse(file.path);
  if (!parse) return FileIndexResult{file.path, {}, "Failed to parse file", false};
  if (auto skipped = indexer::Indexer::check_fast_path_skip(file, *parse->source)) {
    return std::move(*skipped);
  }
  std::vector<IndexedSymbol> symbols = extract_symbols(indexer, file, *parse, resolver);
  // A name the file binds itself wins over a star import's, and an earlier star import wins.
  indexer::dedup_symbols(symbols);
  return FileIndexResult{file.path, std::move(symbols), std::nullopt, false};
}

}  // namespace

FileIndexResult index_file(const indexer::Indexer& indexer, const FileToIndex& file,
                           CrossFileResolver& resolver, ParseCache& parse_cache) {
  try {
    return index_file_unguarded(indexer, file, resolver, parse_cache);
  } catch (const std::bad_alloc&) {
    // The tree is the bulk of what the file held; a later use of it in the batch parses again.
    parse_cache.release(file.path);
    return indexer::out_of_memory_result(file);
  }
}

std::vector<FileIndexResult> index_batch(const indexer::Indexer& indexer,
                                         std::span<const FileToIndex> files, bool parallel,
                                         MemoryFreed on_freed) {
  profiling::TimingGuard total("index_files_cross_file");
  KLOG_DEBUG(kLogTarget, "Starting cross-file indexing for {} files", files.size());
  indexer::log_batch_summary(files);

  auto parse_cache = std::make_shared<ParseCache>(on_freed);
  const Clock::time_point build_start = Clock::now();
  std::unique_ptr<CrossFileResolver> resolver =
      build_resolver(indexer, files, parallel, parse_cache);
  const Clock::duration build_elapsed = Clock::now() - build_start;
  profiling::record_timing("cross_file_build", build_elapsed);
  KLOG_DEBUG(kLogTarget, "Built cross-file resolver with {} modules in {} (parse cache size: {})",
             resolver->modules().size(), format_duration(build_elapsed), parse_cache->size());

  const Clock::time_point pass_start = Clock::now();
  std::vector<FileIndexResult> results;
  results.reserve(files.size());
  // A file's parse serves nothing after its own indexing unless its path comes again, so it is
  // dropped then: the batch's texts and trees are not all held until the end, and no file is
  // read twice.
  GrowthSafe<absl::flat_hash_map<std::string_view, std::size_t>> last_use;
  for (std::size_t i = 0; i < files.size(); ++i) last_use[files[i].path] = i;
  for (std::size_t i = 0; i < files.size(); ++i) {
    results.push_back(index_file(indexer, files[i], *resolver, *parse_cache));
    if (last_use[files[i].path] == i) parse_cache->release(files[i].path);
  }
  const Clock::duration pass_elapsed = Clock::now() - pass_start;
  profiling::record_timing("cross_file_index", pass_elapsed);
  KLOG_DEBUG(kLogTarget, "Cross-file indexing completed in {}", format_duration(pass_elapsed));
  // The request's tables and parses go before the reply is built, which would otherwise come on
  // top of them.
  resolver.reset();
  parse_cache.reset();
  if (on_freed) on_freed(0);
  return results;
}

}  // namespace korvane::cross_file
