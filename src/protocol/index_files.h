// Parameter and result records of the `indexFiles` method.
//
//   auto params = protocol::decode_index_files_params(json::build(request.params));
//   if (!params) return invalid_params("Invalid indexFiles params: " + params.error());
//   ...
//   std::string reply = protocol::to_json_text(IndexFilesResult{...});
//
// Decoding follows the shared record rules (object or array form, unknown members ignored,
// the exact error texts a client sees); result records are only ever encoded.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "json/value.h"
#include "util/result.h"

namespace korvane::protocol {

struct PythonVersionConfig {
  uint8_t major = 0;
  uint8_t minor = 0;
  friend bool operator==(const PythonVersionConfig&, const PythonVersionConfig&) = default;
};

struct SearchPathsConfig {
  std::vector<std::string> extra_paths;
  std::vector<std::string> workspace_roots;
  std::optional<std::string> typeshed_stdlib_path;
  std::optional<std::string> typeshed_thirdparty_path;
  std::vector<std::string> site_packages_paths;
  std::optional<PythonVersionConfig> python_version;
  friend bool operator==(const SearchPathsConfig&, const SearchPathsConfig&) = default;
};

struct FileToIndex {
  std::string path;  // kept exactly as the client sent it
  std::optional<std::string> module_name;
  bool include_all_symbols = false;
  bool is_stub = false;
  bool is_py_typed = false;
  bool indexing_for_auto_import_mode = false;  // accepted for compatibility, never read
  std::optional<double> mtime;                 // only the result cache's key uses these two
  std::optional<double> size;
  friend bool operator==(const FileToIndex&, const FileToIndex&) = default;
};

struct IndexFilesParams {
  std::vector<FileToIndex> files;
  std::optional<SearchPathsConfig> search_paths;
  friend bool operator==(const IndexFilesParams&, const IndexFilesParams&) = default;
};

// Where an imported name comes from.
struct SymbolAlias {
  std::string original_name;
  std::string module_uri;
  uint32_t kind = 0;
  friend bool operator==(const SymbolAlias&, const SymbolAlias&) = default;
};

// Bits of IndexedSymbol::visibility_flags.
inline constexpr uint32_t kVisibilityPublic = 1;
inline constexpr uint32_t kVisibilityInDunderAll = 2;

struct IndexedSymbol {
  std::string name;
  uint32_t visibility_flags = 0;
  uint32_t kind = 0;  // LSP SymbolKind number
  std::optional<SymbolAlias> alias;
  friend bool operator==(const IndexedSymbol&, const IndexedSymbol&) = default;
};

struct FileIndexResult {
  std::string path;
  std::vector<IndexedSymbol> symbols;
  std::optional<std::string> error;
  bool private_or_protected = false;
  std::optional<bool> cached;  // set only on a result served from the result cache
  friend bool operator==(const FileIndexResult&, const FileIndexResult&) = default;
};

struct IndexFilesResult {
  std::vector<FileIndexResult> results;
  uint64_t elapsed_ms = 0;
  uint32_t cache_hits = 0;  // left out of the JSON when 0
};

// Decoding from a request's `params` value; the error is the text a client sees inside
// "Invalid indexFiles params: {}".
Result<IndexFilesParams> decode_index_files_params(const json::Value& params);

// Compact JSON appended to `out`, members in the wire order (ascending names), absent members
// left out.
void append_json(std::string& out, const SymbolAlias& alias);
void append_json(std::string& out, const IndexedSymbol& symbol);
void append_json(std::string& out, const FileIndexResult& result);
void append_json(std::string& out, const IndexFilesResult& result);
std::string to_json_text(const IndexFilesResult& result);
// The same text with the results already encoded one by one (as append_json writes them), so a
// large reply can be encoded on several threads; `result.results` is not read.
std::string to_json_text(const IndexFilesResult& result,
                         std::span<const std::string> encoded_results);

}  // namespace korvane::protocol
