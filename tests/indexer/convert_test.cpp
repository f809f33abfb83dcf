#include <gtest/gtest.h>

#include "indexer/indexer.h"
#include "indexer/symbol_rules.h"

namespace korvane::indexer {
namespace {

using binder::AliasInfo;
using binder::Declaration;
using binder::DeclarationKind;
using binder::SymbolFlags;

Declaration decl(DeclarationKind kind, bool constant = false, bool final = false) {
  Declaration d;
  d.kind = kind;
  d.is_constant = constant;
  d.is_final = final;
  return d;
}

Declaration import_decl(std::string module, std::optional<std::string> name) {
  Declaration d;
  d.kind = DeclarationKind::Import;
  d.alias_info = AliasInfo{std::move(module), std::move(name)};
  return d;
}

// `want` is the kind of an exported symbol, `table` the kind a module table gives the same
// name: the two differ only on a leading "_".
TEST(DetermineSymbolKind, FirstDeclarationDecides) {
  const auto V = DeclarationKind::Variable;
  struct Case {
    const char* name;
    std::vector<Declaration> declarations;
    uint32_t want;
    uint32_t table;
  };
  const Case cases[] = {
      {"f", {decl(DeclarationKind::Function), decl(V)}, 12, 12},
      {"C", {decl(DeclarationKind::Class)}, 5, 5},
      {"Alias", {decl(DeclarationKind::TypeAlias)}, 26, 26},
      {"MAX", {import_decl("m", "MAX"), decl(V)}, 13, 13},  // an import first: variable
      {"none", {}, 13, 13},
      {"x", {decl(V, true)}, 14, 14},         // marked constant
      {"x", {decl(V, false, true)}, 14, 14},  // Final
      {"_X", {decl(V, true)}, 14, 14},        // a mark decides even with a leading "_"
      // The name test stands in for a missing mark (match captures and the like).
      {"MAX_SIZE", {decl(V)}, 14, 14},
      {"T", {decl(V)}, 14, 14},
      {"_CACHE", {decl(V)}, 14, 13},
      {"MAX_2", {decl(V)}, 14, 14},
      {"X1", {decl(V)}, 14, 14},
      {"A_B", {decl(V)}, 14, 14},
      {"Foo", {decl(V)}, 13, 13},
      {"x", {decl(V)}, 13, 13},
      {"_1", {decl(V)}, 13, 13},
      {"__", {decl(V)}, 13, 13},
      {"", {decl(V)}, 13, 13},
      {"\xC3\x89T\xC3\x89", {decl(V)}, 13, 13},  // "ÉTÉ": the name test is ASCII only
      {"X", {decl(V), decl(DeclarationKind::Function)}, 14, 14},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(symbol_kind(c.name, c.declarations, KindRule::kExported), c.want) << c.name;
    EXPECT_EQ(symbol_kind(c.name, c.declarations, KindRule::kModuleTable), c.table) << c.name;
  }
}

struct Flags {
  bool stub = false, typed = false, all = false;
};

FileToIndex file_with(Flags f) {
  FileToIndex file;
  file.path = "m.py";
  file.is_stub = f.stub;
  file.is_py_typed = f.typed;
  file.include_all_symbols = f.all;
  return file;
}

TEST(ConvertDeclaredSymbol, AdmissionAndVisibilityFollowFileFlags) {
  constexpr uint32_t kNone = 0xFFFFFFFF;  // not admitted
  const uint32_t H = SymbolFlags::kHidden, P = SymbolFlags::kPyTypedHidden,
                 A = SymbolFlags::kInDunderAll;
  struct Case {
    const char* name;
    Flags file;
    uint32_t symbol_flags;
    uint32_t want_visibility;
  };
  const Case cases[] = {
      {"plain, not in __all__", {}, 0, kNone},
      {"plain, in __all__", {}, A, 3},
      {"plain, all symbols", {false, false, true}, 0, 1},
      {"plain, all symbols, in __all__", {false, false, true}, A, 3},
      // A hidden flag never reaches a plain file's answer when all symbols are asked for.
      {"plain, all symbols, hidden", {false, false, true}, H, 1},
      {"plain, in __all__, hidden", {}, A | H, 2},
      {"stub, free name", {true}, 0, 1},
      {"stub, in __all__", {true}, A, 3},
      {"stub, hidden", {true}, H, kNone},
      {"stub, py.typed-hidden", {true, false, true}, P, kNone},
      {"py.typed, hidden", {false, true}, P, kNone},
      {"py.typed, all symbols", {false, true, true}, 0, 1},
  };
  Declaration variable = decl(DeclarationKind::Variable);
  for (const auto& c : cases) {
    binder::Symbol symbol;
    symbol.declarations.push_back(variable);
    symbol.flags = c.symbol_flags;
    auto got = convert_declared_symbol("x", symbol, file_with(c.file));
    if (c.want_visibility == kNone) {
      EXPECT_FALSE(got) << c.name;
    } else {
      ASSERT_TRUE(got) << c.name;
      EXPECT_EQ(got->visibility_flags, c.want_visibility) << c.name;
    }
  }
}

TEST(ConvertDeclaredSymbol, AliasFromTheFirstImportDeclaration) {
  binder::Symbol symbol;
  symbol.declarations.push_back(decl(DeclarationKind::Function));
  symbol.declarations.push_back(import_decl("..pkg.mod", "f"));
  symbol.declarations.push_back(import_decl("other", "g"));
  auto got = convert_declared_symbol("f", symbol, file_with({true}));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, 12u);
  EXPECT_EQ(got->alias, (SymbolAlias{"f", "..pkg.mod", 13}));

  // A plain `import m` carries no imported name: the alias says so with an empty text.
  binder::Symbol module;
  module.declarations.push_back(import_decl("os.path", std::nullopt));
  module.declarations.push_back(decl(DeclarationKind::Variable));
  auto plain_import = convert_declared_symbol("os", module, file_with({true}));
  ASSERT_TRUE(plain_import);
  EXPECT_EQ(plain_import->alias, (SymbolAlias{"", "os.path", 13}));
}

TEST(ConvertSymbols, SkipsDundersAndImportOnlyNames) {
  binder::Scope scope;
  auto add = [&](const char* name, uint32_t flags, std::vector<Declaration> ds) {
    binder::Symbol& s = scope.symbol_map[name];
    s.flags = flags;
    for (auto& d : ds) s.declarations.push_back(d);
  };
  const auto V = DeclarationKind::Variable;
  add("__version__", 0, {decl(V)});
  add("__author__", SymbolFlags::kInDunderAll, {decl(V)});
  add("reexported", 0, {import_decl("m", "reexported")});
  add("nothing", 0, {});
  add("kept", 0, {decl(V)});
  auto got = convert_symbols(scope, file_with({true}), /*follow=*/nullptr);
  std::vector<std::string> names;
  for (const auto& s : got) names.push_back(s.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"__author__", "kept"}));
}

TEST(DedupSymbols, KeepsFirstOccurrenceAndOrder) {
  auto sym = [](std::string name, uint32_t kind) {
    return IndexedSymbol{std::move(name), 1, kind, std::nullopt};
  };
  const std::string long_name(40, 'n');  // outside the small-string buffer
  std::vector<IndexedSymbol> symbols = {sym("a", 1),       sym("b", 2), sym("a", 3),
                                        sym(long_name, 4), sym("c", 5), sym("b", 6),
                                        sym(long_name, 7), sym("d", 8)};
  dedup_symbols(symbols);
  std::vector<uint32_t> kinds;
  for (const auto& s : symbols) kinds.push_back(s.kind);
  EXPECT_EQ(kinds, (std::vector<uint32_t>{1, 2, 4, 5, 8}));
}

TEST(RenderParseError, OneElementListOfTheRecord) {
  python::ParseError error;
  error.kind = python::ParseErrorKind::UnexpectedIndent;
  error.range = {4, 8};
  EXPECT_EQ(Indexer::render_parse_error(error),
            "[ParseError { error: " + error.kind_text() + ", location: 4..8 }]");
}

}  // namespace
}  // namespace korvane::indexer
