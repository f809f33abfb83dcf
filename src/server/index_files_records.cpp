#include "server/index_files_records.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace korvane::server {
namespace {

std::vector<std::filesystem::path> to_paths(const std::vector<std::string>& texts) {
  return std::vector<std::filesystem::path>(texts.begin(), texts.end());
}

protocol::IndexedSymbol to_protocol(indexer::IndexedSymbol&& symbol) {
  protocol::IndexedSymbol out{std::move(symbol.name), symbol.visibility_flags, symbol.kind,
                              std::nullopt};
  if (symbol.alias) {
    out.alias = protocol::SymbolAlias{std::move(symbol.alias->original_name),
                                      std::move(symbol.alias->module_uri), symbol.alias->kind};
  }
  return out;
}

}  // namespace

import_resolver::ImportResolverConfig search_roots(const protocol::SearchPathsConfig& config) {
  import_resolver::ImportResolverConfig roots;
  roots.extra_paths = to_paths(config.extra_paths);
  roots.workspace_roots = to_paths(config.workspace_roots);
  if (config.typeshed_stdlib_path) roots.typeshed_stdlib_path = *config.typeshed_stdlib_path;
  if (config.typeshed_thirdparty_path) {
    roots.typeshed_thirdparty_path = *config.typeshed_thirdparty_path;
  }
  roots.site_packages_paths = to_paths(config.site_packages_paths);
  return roots;
}

std::optional<binder::PythonVersion> python_version(const protocol::SearchPathsConfig& config) {
  if (!config.python_version) return std::nullopt;
  return binder::PythonVersion{config.python_version->major, config.python_version->minor};
}

indexer::FileToIndex file_to_index(protocol::FileToIndex&& file) {
  return indexer::FileToIndex{std::move(file.path), std::move(file.module_name),
                              file.include_all_symbols, file.is_stub, file.is_py_typed};
}

protocol::FileIndexResult to_protocol(indexer::FileIndexResult result) {
  protocol::FileIndexResult out;
  out.path = std::move(result.path);
  out.symbols.reserve(result.symbols.size());
  for (indexer::IndexedSymbol& symbol : result.symbols) {
    out.symbols.push_back(to_protocol(std::move(symbol)));
  }
  out.error = std::move(result.error);
  out.private_or_protected = result.private_or_protected;
  return out;
}

}  // namespace korvane::server
