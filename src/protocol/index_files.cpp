#include "protocol/index_files.h"

#include "json/record.h"
#include "json/writer.h"

namespace korvane::protocol {

// Decoding tables, found by argument-dependent lookup. Apart from `files`, `path` and the two
// version numbers every member may be left out, also past the end of a short array.

inline auto json_record(json::RecordTag<PythonVersionConfig>) {
  return json::record<PythonVersionConfig>("PythonVersionConfig",
                                           json::required("major", &PythonVersionConfig::major),
                                           json::required("minor", &PythonVersionConfig::minor));
}

inline auto json_record(json::RecordTag<SearchPathsConfig>) {
  using S = SearchPathsConfig;
  return json::record<S>("SearchPathsConfig", json::defaulted("extraPaths", &S::extra_paths),
                         json::defaulted("workspaceRoots", &S::workspace_roots),
                         json::defaulted("typeshedStdlibPath", &S::typeshed_stdlib_path),
                         json::defaulted("typeshedThirdpartyPath", &S::typeshed_thirdparty_path),
                         json::defaulted("sitePackagesPaths", &S::site_packages_paths),
                         json::defaulted("pythonVersion", &S::python_version));
}

inline auto json_record(json::RecordTag<FileToIndex>) {
  using F = FileToIndex;
  return json::record<F>(
      "FileToIndex", json::required("path", &F::path),
      json::defaulted("moduleName", &F::module_name),
      json::defaulted("includeAllSymbols", &F::include_all_symbols),
      json::defaulted("isStub", &F::is_stub), json::defaulted("isPyTyped", &F::is_py_typed),
      json::defaulted("indexingForAutoImportMode", &F::indexing_for_auto_import_mode),
      json::defaulted("mtime", &F::mtime), json::defaulted("size", &F::size));
}

inline auto json_record(json::RecordTag<IndexFilesParams>) {
  return json::record<IndexFilesParams>(
      "IndexFilesParams", json::required("files", &IndexFilesParams::files),
      json::defaulted("searchPaths", &IndexFilesParams::search_paths));
}

Result<IndexFilesParams> decode_index_files_params(const json::Value& params) {
  return json::decode<IndexFilesParams>(params);
}

// Members are written in ascending byte order of their names, which is the wire order.

void write_json(json::Writer& w, const SymbolAlias& alias) {
  w.begin_object();
  w.key("kind");
  w.u64(alias.kind);
  w.key("moduleUri");
  w.string(alias.module_uri);
  w.key("originalName");
  w.string(alias.original_name);
  w.end_object();
}

void write_json(json::Writer& w, const IndexedSymbol& symbol) {
  w.begin_object();
  if (symbol.alias) {
    w.key("alias");
    write_json(w, *symbol.alias);
  }
  w.key("kind");
  w.u64(symbol.kind);
  w.key("name");
  w.string(symbol.name);
  w.key("visibilityFlags");
  w.u64(symbol.visibility_flags);
  w.end_object();
}

void write_json(json::Writer& w, const FileIndexResult& result) {
  w.begin_object();
  if (result.cached) {
    w.key("cached");
    w.boolean(*result.cached);
  }
  if (result.error) {
    w.key("error");
    w.string(*result.error);
  }
  w.key("path");
  w.string(result.path);
  w.key("privateOrProtected");
  w.boolean(result.private_or_protected);
  w.key("symbols");
  w.begin_array();
  for (const auto& symbol : result.symbols) write_json(w, symbol);
  w.end_array();
  w.end_object();
}

void write_json(json::Writer& w, const IndexFilesResult& result) {
  w.begin_object();
  if (result.cache_hits > 0) {
    w.key("cacheHits");
    w.u64(result.cache_hits);
  }
  w.key("elapsedMs");
  w.u64(result.elapsed_ms);
  w.key("results");
  w.begin_array();
  for (const auto& file : result.results) write_json(w, file);
  w.end_array();
  w.end_object();
}

std::string to_json_text(const IndexFilesResult& result) {
  std::string out;
  // Roughly 60 bytes per symbol and 80 per file: one allocation for most batches.
  std::size_t symbols = 0;
  for (const auto& file : result.results) symbols += file.symbols.size();
  out.reserve(64 + result.results.size() * 80 + symbols * 60);
  json::Writer w(out);
  write_json(w, result);
  return out;
}

}  // namespace korvane::protocol
