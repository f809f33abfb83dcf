// Parsing snippets for binder tests and rendering results as comparable text.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "../support/captured_io.h"
#include "binder/binder.h"
#include "python/parser.h"

namespace korvane::binder::testing {

// A parsed snippet that keeps its text alive as long as its tree.
struct Snippet {
  std::unique_ptr<std::string> text;
  std::optional<python::ParsedModule> module;

  explicit Snippet(std::string_view source, python::ParseDepth depth = python::ParseDepth::Full)
      : text(std::make_unique<std::string>(source)) {
    auto parsed = python::parse_module(*text, depth);
    if (parsed) module.emplace(std::move(parsed).value());
  }
  python::StmtList body() const { return module ? module->body() : python::StmtList{}; }
};

// Binds `source` statement by statement as the parser hands them over, each tree freed after.
inline BinderResult bind_streamed(const std::string& source, FileInfo info) {
  Binder binder(std::move(info));
  binder.begin_module();
  auto parsed = python::parse_module_statements(
      source, python::ParseDepth::Outline,
      [&](const python::Stmt& stmt) { binder.bind_top_level_statement(stmt); });
  EXPECT_TRUE(parsed) << "did not parse";
  return std::move(binder).finish_module();
}

using korvane::testing::capture_stderr;

// The test of the first statement of `if <condition>: pass`.
inline const python::Expr* condition_of(const Snippet& snippet) {
  if (snippet.body().empty()) return nullptr;
  const auto* stmt = snippet.body()[0]->as<python::If>();
  return stmt != nullptr ? stmt->test : nullptr;
}

inline std::string render_declaration(const Declaration& d) {
  std::string out;
  switch (d.kind) {
    case DeclarationKind::Variable:
      out = "var";
      break;
    case DeclarationKind::TypeAlias:
      out = "alias";
      break;
    case DeclarationKind::Function:
      out = "def";
      break;
    case DeclarationKind::Class:
      out = "class";
      break;
    case DeclarationKind::Import:
      out = "import";
      break;
  }
  if (d.alias_info) {
    out += '(';
    out += d.alias_info->module_name;
    if (d.alias_info->imported_name) {
      out += ':';
      out += *d.alias_info->imported_name;
    }
    out += ')';
  }
  if (d.is_constant) out += "+const";
  if (d.is_final) out += "+final";
  return out;
}

// What a symbol keeps of its declarations: the first; the first import when another came first;
// then, when there are several, their count and kinds: "var,import(m:y) x3 {var,import}".
inline std::string render_declarations(const Declarations& declarations) {
  if (declarations.empty()) return {};
  Declaration first = declarations.front();
  const AliasInfo* alias = declarations.first_import_alias();
  if (first.kind == DeclarationKind::Import && alias != nullptr) first.alias_info = *alias;
  std::string out = render_declaration(first);
  if (first.kind != DeclarationKind::Import && alias != nullptr) {
    Declaration import;
    import.kind = DeclarationKind::Import;
    import.alias_info = *alias;
    out += ',' + render_declaration(import);
  }
  if (declarations.size() < 2) return out;
  out += " x" + std::to_string(declarations.size()) + " {";
  const char* separator = "";
  for (DeclarationKind kind :
       {DeclarationKind::Variable, DeclarationKind::TypeAlias, DeclarationKind::Function,
        DeclarationKind::Class, DeclarationKind::Import}) {
    if (!declarations.has_kind(kind)) continue;
    Declaration bare;
    bare.kind = kind;
    out += separator + render_declaration(bare);
    separator = ",";
  }
  return out + '}';
}

// One line per symbol, sorted by name: "name: declarations FLAG FLAG".
inline std::vector<std::string> render_symbols(const Scope& scope) {
  std::vector<std::string> lines;
  for (const auto& [name, symbol] : scope.symbol_map) {
    std::string line = name + ":";
    if (!symbol.declarations.empty()) line += ' ' + render_declarations(symbol.declarations);
    if (symbol.flags & SymbolFlags::kHidden) line += " HIDDEN";
    if (symbol.flags & SymbolFlags::kInDunderAll) line += " ALL";
    if (symbol.flags & SymbolFlags::kPyTypedHidden) line += " PYHIDDEN";
    lines.push_back(std::move(line));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

inline std::vector<std::string> sorted(const NameSet& names) {
  std::vector<std::string> out(names.begin(), names.end());
  std::sort(out.begin(), out.end());
  return out;
}

inline std::vector<std::string> render_wildcards(const std::vector<WildcardImport>& imports) {
  std::vector<std::string> out;
  for (const auto& import : imports) out.push_back(import.module_name);
  return out;
}

}  // namespace korvane::binder::testing
