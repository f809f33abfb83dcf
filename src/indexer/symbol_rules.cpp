#include "indexer/symbol_rules.h"

#include <algorithm>
#include <string>
#include <utility>

#include <absl/container/flat_hash_set.h>

#include "util/growth_safe_table.h"

namespace korvane::indexer {
namespace {

using binder::DeclarationKind;
using binder::SymbolFlags;

bool is_ascii(std::string_view name) {
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool is_constant_by_name(std::string_view name, KindRule rule) {
  if (rule == KindRule::kModuleTable && name.starts_with('_')) return false;
  return is_ascii(name) && binder::is_constant_name(name);
}

bool is_declared(const binder::Symbol& symbol) {
  return symbol.declarations.has_kind_other_than(DeclarationKind::Import);
}

std::optional<IndexedSymbol> convert_import_only(std::string_view name,
                                                 const binder::Symbol& symbol,
                                                 const FileToIndex& file,
                                                 const ImportFollower& follow) {
  const binder::AliasInfo* alias = first_alias_info(symbol);
  if (alias == nullptr) return std::nullopt;
  // A plain `import m` looks its own bound name up inside m.
  const std::string_view lookup = alias->imported_name ? *alias->imported_name : name;
  std::optional<SymbolAlias> definition = follow(alias->module_name, lookup);
  if (!definition || !admits(file, symbol.flags, Binding::kImportOnly)) return std::nullopt;
  return imported_symbol(std::string(name), visibility_flags(file, symbol.flags),
                         std::move(*definition));
}

}  // namespace

bool is_dunder_name(std::string_view name) {
  return name.size() >= 2 && name.starts_with("__") && name.ends_with("__");
}

bool is_restricted(const FileToIndex& file) { return file.is_stub || file.is_py_typed; }

uint32_t symbol_kind(std::string_view name, std::span<const binder::Declaration> declarations,
                     KindRule rule) {
  if (declarations.empty()) return kSymbolKindVariable;
  const binder::Declaration& first = declarations.front();
  switch (first.kind) {
    case DeclarationKind::Function:
      return kSymbolKindFunction;
    case DeclarationKind::Class:
      return kSymbolKindClass;
    case DeclarationKind::TypeAlias:
      return kSymbolKindTypeParameter;
    case DeclarationKind::Import:
      return kSymbolKindVariable;
    case DeclarationKind::Variable:
      break;
  }
  if (first.is_constant || first.is_final) return kSymbolKindConstant;
  // The binder's own mark already covers assignments; this catches the other variables
  // (match captures, loop targets) and keeps non-ASCII names variables.
  return is_constant_by_name(name, rule) ? kSymbolKindConstant : kSymbolKindVariable;
}

uint32_t symbol_kind(std::string_view name, const binder::Declarations& declarations,
                     KindRule rule) {
  if (declarations.empty()) return symbol_kind(name, std::span<const binder::Declaration>(), rule);
  const binder::Declaration first = declarations.front();
  return symbol_kind(name, std::span(&first, 1), rule);
}

uint32_t visibility_flags(const FileToIndex& file, uint32_t flags) {
  const uint32_t listed = (flags & SymbolFlags::kInDunderAll) != 0 ? kVisibilityInDunderAll : 0;
  if (!is_restricted(file) && file.include_all_symbols) return kVisibilityPublic | listed;
  return ((flags & SymbolFlags::kHidden) == 0 ? kVisibilityPublic : 0) | listed;
}

bool admits(const FileToIndex& file, uint32_t flags, Binding binding) {
  const bool hidden = (flags & SymbolFlags::kHiddenMask) != 0;
  const bool listed = (flags & SymbolFlags::kInDunderAll) != 0;
  if (binding == Binding::kDeclared) {
    return is_restricted(file) ? !hidden : listed || file.include_all_symbols;
  }
  if (file.is_stub || file.include_all_symbols) return true;
  return file.is_py_typed ? !hidden : listed;
}

bool admits_star_imported(const FileToIndex& file, std::string_view name,
                          const std::optional<binder::NameSet>& dunder_all) {
  if (name.starts_with('_')) return false;
  if (file.is_stub || file.include_all_symbols) return true;
  if (dunder_all) return dunder_all->contains(name);
  return file.is_py_typed;
}

const binder::AliasInfo* first_alias_info(const binder::Symbol& symbol) {
  return symbol.declarations.first_import_alias();
}

std::optional<IndexedSymbol> convert_declared_symbol(std::string_view name,
                                                     const binder::Symbol& symbol,
                                                     const FileToIndex& file) {
  if (!admits(file, symbol.flags, Binding::kDeclared)) return std::nullopt;
  IndexedSymbol out;
  out.name = std::string(name);
  out.visibility_flags = visibility_flags(file, symbol.flags);
  out.kind = symbol_kind(name, symbol.declarations, KindRule::kExported);
  if (const binder::AliasInfo* alias = first_alias_info(symbol)) {
    out.alias = SymbolAlias{alias->imported_name.value_or(std::string()), alias->module_name,
                            kSymbolKindVariable};
  }
  return out;
}

IndexedSymbol imported_symbol(std::string name, uint32_t visibility, SymbolAlias definition) {
  return IndexedSymbol{std::move(name), visibility, kSymbolKindModule, std::move(definition)};
}

std::vector<IndexedSymbol> convert_symbols(const binder::Scope& scope, const FileToIndex& file,
                                           const ImportFollower* follow) {
  std::vector<IndexedSymbol> symbols;
  symbols.reserve(scope.symbol_map.size());
  for (const auto& [name, symbol] : scope.symbol_map) {
    if (is_dunder_name(name) && !(symbol.flags & SymbolFlags::kInDunderAll)) continue;
    if (symbol.declarations.empty()) continue;
    std::optional<IndexedSymbol> converted;
    if (is_declared(symbol)) {
      converted = convert_declared_symbol(name, symbol, file);
    } else if (follow != nullptr) {
      converted = convert_import_only(name, symbol, file, *follow);
    }
    if (converted) symbols.push_back(std::move(*converted));
  }
  return symbols;
}

void dedup_symbols(std::vector<IndexedSymbol>& symbols) {
  if (symbols.size() < 2) return;
  GrowthSafe<absl::flat_hash_set<std::string_view>> seen;
  seen.reserve(symbols.size());
  std::size_t kept = 0;
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    if (seen.contains(symbols[i].name)) continue;
    // Move first, then remember the name where it now lives: a short name's bytes move with it.
    if (kept != i) symbols[kept] = std::move(symbols[i]);
    seen.insert(symbols[kept].name);
    ++kept;
  }
  symbols.erase(symbols.begin() + static_cast<std::ptrdiff_t>(kept), symbols.end());
}

}  // namespace korvane::indexer
