// Binding the top level of one parsed Python module into the names it defines.
//
//   FileInfo info{.module_name = "pkg.mod", .is_stub = true, .python_version = {{3, 11}}};
//   BinderResult result = Binder(std::move(info)).bind_module(parsed.body());
//   for (const auto& [name, symbol] : result.module_scope.symbol_map)
//     if (!(symbol.flags & SymbolFlags::kHidden)) export_name(name, symbol.declarations.front());
//
// Only the module scope exists: function and class bodies are never entered, compound statements
// are, and `if`/`elif`/`else` branches that `sys.version_info` or `TYPE_CHECKING` rule out are
// skipped. `__all__` is read over the whole module before anything is bound, so flags reflect
// the final export list wherever it stands in the source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>
#include <absl/container/inlined_vector.h>
#include <absl/hash/hash.h>
#include <absl/strings/string_view.h>

#include "binder/static_expressions.h"
#include "python/ast.h"
#include "util/growth_safe_table.h"

namespace korvane::binder {

// Hashing for maps keyed by names: lookups take std::string_view without building a string.
// This abseil build's own string hasher only accepts absl::string_view, so adapt to it; the
// hash stays abseil's randomly seeded one.
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view name) const {
    return absl::Hash<absl::string_view>{}(absl::string_view(name.data(), name.size()));
  }
};
struct NameEq {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return a == b; }
};
// Growth-safe: a file too large for memory fails alone, and its tables must still unwind.
template <class V>
using NameMap = GrowthSafe<absl::flat_hash_map<std::string, V, NameHash, NameEq>>;
using NameSet = GrowthSafe<absl::flat_hash_set<std::string, NameHash, NameEq>>;

// What the caller knows about the file being bound.
struct FileInfo {
  // Dotted module name, possibly empty; only the value "builtins" changes binding.
  std::string module_name;
  bool is_stub = false;
  // The file belongs to a package marked `py.typed`.
  bool is_py_typed = false;
  // Version for deciding `sys.version_info` tests; absent means every comparison is undecided.
  std::optional<PythonVersion> python_version;
};

// Bits of Symbol::flags. Readers test kHidden, kInDunderAll and kHiddenMask; others are unused.
struct SymbolFlags {
  // A private name of the "builtins" module, or an import-bound name of a stub that `__all__`
  // does not list.
  static constexpr uint32_t kHidden = 0x2;
  // Listed in `__all__` and bound at module level.
  static constexpr uint32_t kInDunderAll = 0x100;
  // An import-bound name of a `py.typed` source file that `__all__` does not list.
  static constexpr uint32_t kPyTypedHidden = 0x200;
  static constexpr uint32_t kHiddenMask = kHidden | kPyTypedHidden;
};

enum class DeclarationKind : uint8_t {
  // Assignment, annotated assignment, `for` and `with` targets, match captures, `except as`.
  Variable = 1,
  // `type X = ...`.
  TypeAlias = 4,
  Function = 5,
  Class = 6,
  // `import m` and `from m import x`.
  Import = 8,
};

// Where an import-bound name comes from.
struct AliasInfo {
  // `a.b.c` for `import a.b.c`; for `from` imports one "." per relative level, then the module
  // as written: `..pkg.mod`, `.`, `os.path`.
  std::string module_name;
  // The name as imported, not its local alias; absent for `import m`.
  std::optional<std::string> imported_name;

  friend bool operator==(const AliasInfo&, const AliasInfo&) = default;
};

// One binding of a name.
struct Declaration {
  // Present exactly when kind is Import.
  std::optional<AliasInfo> alias_info;
  // Only assignment-like targets whose name is all upper case (digits and "_" allowed).
  bool is_constant = false;
  // Only an annotated assignment to a plain name annotated `Final` / `X.Final` / `Final[...]`.
  bool is_final = false;
  DeclarationKind kind = DeclarationKind::Variable;
};

// What readers ask of a name's declarations: the first one (it decides the symbol's kind), the
// first import's alias, which kinds occur, and how many there are. Only that is kept, so a name
// bound four million times costs what a name bound once does.
class Declarations {
 public:
  // Appends a declaration (binding order).
  void push_back(Declaration declaration);
  bool empty() const { return count_ == 0; }
  // How many were appended.
  std::size_t size() const { return count_; }
  // The first declaration appended, without its alias (first_import_alias() has it when the first
  // is an import); only when not empty.
  Declaration front() const;
  // Whether any declaration is of `kind`.
  bool has_kind(DeclarationKind kind) const { return (kinds_ & bit(kind)) != 0; }
  // Whether any declaration is of a kind other than `kind`.
  bool has_kind_other_than(DeclarationKind kind) const { return (kinds_ & ~bit(kind)) != 0; }
  // The alias of the first import declaration; null when there is none.
  const AliasInfo* first_import_alias() const {
    return first_import_alias_ ? &*first_import_alias_ : nullptr;
  }

 private:
  static uint32_t bit(DeclarationKind kind) { return uint32_t{1} << static_cast<uint8_t>(kind); }

  std::optional<AliasInfo> first_import_alias_;
  uint32_t count_ = 0;
  uint32_t kinds_ = 0;
  DeclarationKind first_kind_ = DeclarationKind::Variable;
  bool first_is_constant_ = false;
  bool first_is_final_ = false;
};

struct Symbol {
  // In binding order (source order, pruned branches left out); never empty in a result.
  Declarations declarations;
  uint32_t flags = 0;
};

enum class ScopeKind : uint8_t { Module, Builtins };

struct Scope {
  // Keyed by the name's bytes. Iteration order is randomised (abseil seeds hashing per process
  // and salts probing per table): never rely on it.
  NameMap<Symbol> symbol_map;
  ScopeKind kind = ScopeKind::Module;

  // The symbol of `name`, inserted with no declarations and no flags when missing. The reference
  // is valid until the next insertion.
  Symbol& get_or_add_symbol(std::string_view name);
};

// `from M import *`: one "." per relative level, then the module as written (`..pkg.mod`, `.`).
struct WildcardImport {
  std::string module_name;
  friend bool operator==(const WildcardImport&, const WildcardImport&) = default;
};

struct BinderResult {
  Scope module_scope;
  // Present when `__all__` kept at least one name after removals, or when it was changed in a
  // way that cannot be read statically (then possibly empty, yet still "the module has one").
  // Holds names as written, including ones the module never binds.
  std::optional<NameSet> dunder_all;
  // In binding order; imports in pruned branches are not here.
  std::vector<WildcardImport> wildcard_imports;
};

// One binding run over one module. Construct it, then consume it with
// std::move(binder).bind_module(body), or statement by statement:
//
//   Binder binder(info);
//   binder.begin_module();
//   for (each top-level statement, in source order) binder.bind_top_level_statement(stmt);
//   BinderResult result = std::move(binder).finish_module();
//
// Both give the same result. Binders share nothing and may run on any thread.
class Binder {
 public:
  explicit Binder(FileInfo file_info);

  // Binds every top-level statement; never fails on a parsed module. The statements must
  // outlive the call (names are copied into the result).
  BinderResult bind_module(python::StmtList body) &&;

  // Opens the module scope for bind_top_level_statement.
  void begin_module();
  // Reads the statement's `__all__` operations and binds it. Whatever is kept of it is copied,
  // so its tree may be freed as soon as the call returns.
  void bind_top_level_statement(const python::Stmt& stmt);
  // Settles `__all__` and the flags it decides; the result of the statements bound so far.
  BinderResult finish_module() &&;

  // Reads the `__all__` operations of one statement (and of nested if/try bodies): adds
  // literal names to `names`, queues `__all__.remove(...)` values in `removals`, and marks
  // `dunder_all_dynamic` for operations whose names cannot be read.
  void extract_dunder_all_from_stmt(const python::Stmt& stmt, NameSet& names,
                                    std::vector<std::string_view>& removals);

  // The names of a list/tuple of string literals, or of a binary operation over such lists
  // (left then right, duplicates kept); nullopt for any other form.
  static std::optional<std::vector<std::string_view>> extract_all_names(const python::Expr& expr);

  // The steps of bind_module. They need its module scope: called outside it, they abort with
  // "No scope on stack".

  // Binds one statement, entering compound statements (not def/class bodies).
  void bind_statement(const python::Stmt& stmt);
  // Binds a plain name, or each element of a list/tuple target; other targets bind nothing.
  void bind_assignment_target(const python::Expr& target, bool is_final);
  void bind_pattern(const python::Pattern& pattern);
  void bind_elif_else_clauses(std::span<python::ElifElseClause* const> clauses);
  // The current scope's symbol for `name`, created if needed.
  Symbol& bind_name_to_scope(std::string_view name);
  // Notes an import-bound name of a stub or `py.typed` file that may have to be hidden.
  void track_potential_hidden_symbol(std::string_view name);
  void bind_wildcard_import(std::string_view module_name);

  const FileInfo& file_info() const { return file_info_; }
  bool dunder_all_dynamic() const { return dunder_all_dynamic_; }
  std::optional<std::string_view> sys_alias() const {
    return sys_alias_ ? std::optional<std::string_view>(*sys_alias_) : std::nullopt;
  }
  const std::vector<WildcardImport>& wildcard_imports() const { return wildcard_imports_; }

 private:
  Scope& current_scope();
  void bind_statements(python::StmtList statements);
  void bind_if(const python::If& stmt);
  void bind_import(const python::Import& stmt);
  void bind_import_from(const python::ImportFrom& stmt);
  void bind_try(const python::Try& stmt);
  void declare(std::string_view name, Declaration declaration);
  void add_dunder_all_names(const python::Expr& value, NameSet& names);
  void extract_dunder_all_call(const python::Call& call, NameSet& names,
                               std::vector<std::string_view>& removals);
  StaticBool evaluate_test(const python::Expr& test) const;

  FileInfo file_info_;
  std::vector<Scope> scopes_;
  std::optional<NameSet> dunder_all_;
  // `__all__` names read so far and the `__all__.remove(...)` values, applied at the end so that
  // removals win over additions wherever they stand.
  NameSet dunder_all_names_;
  std::vector<std::string> dunder_all_removals_;
  // Import-bound names of a stub or `py.typed` file that may have to be hidden.
  NameSet hidden_candidates_;
  std::vector<WildcardImport> wildcard_imports_;
  // The alias of the last `import sys as X` bound so far.
  std::optional<std::string> sys_alias_;
  bool dunder_all_dynamic_ = false;
  // Reused buffers: one module text per `from` import, the names of one `__all__` form and the
  // removals of one statement.
  std::string module_text_;
  std::vector<std::string_view> names_buffer_;
  std::vector<std::string_view> removals_buffer_;
};

// A name of two or more characters that starts with "_" and is not a dunder (`_x`, `__x`, `_x__`).
bool is_private_name(std::string_view name);

// At least one upper-case letter (Unicode Uppercase property) and nothing but upper-case
// letters, "_" and ASCII digits: `MAX_SIZE`, `_X`, `A1`.
bool is_constant_name(std::string_view name);

// `Final`, `<anything>.Final`, or either subscripted.
bool is_final_annotation(const python::Expr& annotation);

}  // namespace korvane::binder
