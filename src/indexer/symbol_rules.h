// The rules that turn a bound module's names into exported symbols, for both indexing modes.
//
//   std::vector<IndexedSymbol> out = convert_symbols(bound.module_scope, file, nullptr);  // plain
//   std::vector<IndexedSymbol> out = convert_symbols(bound.module_scope, file, &follow);  // cross
//   dedup_symbols(out);
//
// Plain mode and cross-file mode share every rule here; where they really differ, the
// difference is a parameter. All functions are pure and may run on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "binder/binder.h"
#include "indexer/indexed_file.h"

namespace korvane::indexer {

// LSP SymbolKind numbers the indexer produces.
inline constexpr uint32_t kSymbolKindModule = 2;
inline constexpr uint32_t kSymbolKindClass = 5;
inline constexpr uint32_t kSymbolKindFunction = 12;
inline constexpr uint32_t kSymbolKindVariable = 13;
inline constexpr uint32_t kSymbolKindConstant = 14;
inline constexpr uint32_t kSymbolKindTypeParameter = 26;

// A name of at least two characters that begins and ends with "__" ("__" itself included).
bool is_dunder_name(std::string_view name);

// Stubs and py.typed files export what they do not hide, whatever `__all__` says.
bool is_restricted(const FileToIndex& file);

// Who asks for a symbol kind. The one difference: an exported name such as _CACHE counts as a
// constant, while a module table's name with a leading "_" never does.
enum class KindRule : uint8_t { kExported, kModuleTable };

// The first declaration decides; a variable is a constant when marked so, or when its name is
// ASCII upper case (binder::is_constant_name restricted to ASCII). No declaration: a variable.
uint32_t symbol_kind(std::string_view name, std::span<const binder::Declaration> declarations,
                     KindRule rule);

// The same for a symbol's declarations, of which the first decides.
uint32_t symbol_kind(std::string_view name, const binder::Declarations& declarations,
                     KindRule rule);

// bit 0: public, bit 1: listed in `__all__`. Asking a plain file for all symbols makes every
// name public; otherwise a hidden name is not.
uint32_t visibility_flags(const FileToIndex& file, uint32_t flags);

// How a name is bound: by a declaration other than an import, or by imports alone.
enum class Binding : uint8_t { kDeclared, kImportOnly };

// Whether `file` exports a name of `binding` with these binder flags. Declared names: a
// restricted file keeps what it does not hide, any other file its `__all__` names (all of them
// when all symbols are asked for). Import-only names: a stub keeps them even hidden, and asking
// for all symbols keeps them in any file.
bool admits(const FileToIndex& file, uint32_t flags, Binding binding);

// Whether `file` exports `name` brought in by a star import: never a "_" name; a stub or a file
// asked for all symbols keeps the rest; else the file's own `__all__` decides when it has one,
// and without one only a py.typed file keeps them.
bool admits_star_imported(const FileToIndex& file, std::string_view name,
                          const std::optional<binder::NameSet>& dunder_all);

// The alias information of the symbol's first import declaration.
const binder::AliasInfo* first_alias_info(const binder::Symbol& symbol);

// A symbol that has a declaration other than an import; none when `file` does not admit it.
std::optional<IndexedSymbol> convert_declared_symbol(std::string_view name,
                                                     const binder::Symbol& symbol,
                                                     const FileToIndex& file);

// An imported name exported as a module-kind symbol whose alias names its definition.
IndexedSymbol imported_symbol(std::string name, uint32_t visibility, SymbolAlias definition);

// Where a name bound only by imports is defined: called with the import's module text as
// written and the name to find there; none when it cannot be found or is hidden there.
using ImportFollower =
    std::function<std::optional<SymbolAlias>(std::string_view, std::string_view)>;

// The exported symbols of a module scope, in the scope's own (unspecified) order: dunder names
// outside `__all__` are left out. Names bound only by imports are followed with `follow`
// (cross-file mode) or left out when it is null (plain mode).
std::vector<IndexedSymbol> convert_symbols(const binder::Scope& scope, const FileToIndex& file,
                                           const ImportFollower* follow);

// Drops every symbol whose name an earlier one already has, keeping the order of the rest.
void dedup_symbols(std::vector<IndexedSymbol>& symbols);

}  // namespace korvane::indexer
