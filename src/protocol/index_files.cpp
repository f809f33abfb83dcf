#include "protocol/index_files.h"

#include <charconv>

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

// Results are written by hand: a reply can carry hundreds of thousands of symbols, and their
// shape is fixed. Members go in ascending byte order of their names, which is the wire order.

namespace {

void append_u64(std::string& out, uint64_t value) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

}  // namespace

void append_json(std::string& out, const SymbolAlias& alias) {
  out.append(R"({"kind":)");
  append_u64(out, alias.kind);
  out.append(R"(,"moduleUri":)");
  json::append_quoted(out, alias.module_uri);
  out.append(R"(,"originalName":)");
  json::append_quoted(out, alias.original_name);
  out.push_back('}');
}

void append_json(std::string& out, const IndexedSymbol& symbol) {
  out.push_back('{');
  if (symbol.alias) {
    out.append(R"("alias":)");
    append_json(out, *symbol.alias);
    out.push_back(',');
  }
  out.append(R"("kind":)");
  append_u64(out, symbol.kind);
  out.append(R"(,"name":)");
  json::append_quoted(out, symbol.name);
  out.append(R"(,"visibilityFlags":)");
  append_u64(out, symbol.visibility_flags);
  out.push_back('}');
}

void append_json(std::string& out, const FileIndexResult& result) {
  out.push_back('{');
  if (result.cached) out.append(*result.cached ? R"("cached":true,)" : R"("cached":false,)");
  if (result.error) {
    out.append(R"("error":)");
    json::append_quoted(out, *result.error);
    out.push_back(',');
  }
  out.append(R"("path":)");
  json::append_quoted(out, result.path);
  out.append(result.private_or_protected ? R"(,"privateOrProtected":true,"symbols":[)"
                                         : R"(,"privateOrProtected":false,"symbols":[)");
  for (std::size_t i = 0; i < result.symbols.size(); ++i) {
    if (i > 0) out.push_back(',');
    append_json(out, result.symbols[i]);
  }
  out.append("]}");
}

namespace {

// Everything of an indexFiles result up to the first element of `results`.
void append_result_head(std::string& out, const IndexFilesResult& result) {
  out.push_back('{');
  if (result.cache_hits > 0) {
    out.append(R"("cacheHits":)");
    append_u64(out, result.cache_hits);
    out.push_back(',');
  }
  out.append(R"("elapsedMs":)");
  append_u64(out, result.elapsed_ms);
  out.append(R"(,"results":[)");
}

}  // namespace

void append_json(std::string& out, const IndexFilesResult& result) {
  append_result_head(out, result);
  for (std::size_t i = 0; i < result.results.size(); ++i) {
    if (i > 0) out.push_back(',');
    append_json(out, result.results[i]);
  }
  out.append("]}");
}

std::string to_json_text(const IndexFilesResult& result,
                         std::span<const std::string> encoded_results) {
  std::size_t bytes = 64;
  for (const auto& piece : encoded_results) bytes += piece.size() + 1;
  std::string out;
  out.reserve(bytes);
  append_result_head(out, result);
  for (std::size_t i = 0; i < encoded_results.size(); ++i) {
    if (i > 0) out.push_back(',');
    out.append(encoded_results[i]);
  }
  out.append("]}");
  return out;
}

std::string to_json_text(const IndexFilesResult& result) {
  std::string out;
  // Roughly 60 bytes per symbol and 80 per file: one allocation for most batches.
  std::size_t symbols = 0;
  for (const auto& file : result.results) symbols += file.symbols.size();
  out.reserve(64 + result.results.size() * 80 + symbols * 60);
  append_json(out, result);
  return out;
}

}  // namespace korvane::protocol
