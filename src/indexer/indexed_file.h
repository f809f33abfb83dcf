// What the indexer is asked about one file and what it answers: the indexer's own records,
// translated from and to the wire records by the indexFiles handler.
//
//   FileToIndex file{.path = "/ws/pkg/mod.pyi", .is_stub = true};
//   FileIndexResult result = indexer.index_file(file);
//   for (const IndexedSymbol& s : result.symbols) use(s.name, s.kind, s.alias);
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane::indexer {

struct FileToIndex {
  std::string path;  // kept exactly as the client sent it
  std::optional<std::string> module_name;
  bool include_all_symbols = false;
  bool is_stub = false;
  bool is_py_typed = false;
  friend bool operator==(const FileToIndex&, const FileToIndex&) = default;
};

// Where an imported name comes from.
struct SymbolAlias {
  std::string original_name;
  std::string module_uri;
  uint32_t kind = 0;  // LSP SymbolKind number
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
  friend bool operator==(const FileIndexResult&, const FileIndexResult&) = default;
};

}  // namespace korvane::indexer
