#include "binder/binder.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdio>
#include <cstdlib>

#include "log/log.h"

namespace korvane::binder {
namespace {

using python::Expr;
using python::NodeKind;
using python::Stmt;

constexpr std::string_view kLogTarget = "korvane_indexer::binder";

[[noreturn]] void internal_error(const char* message) {
  std::fprintf(stderr, "%s\n", message);
  std::abort();
}

Declaration declaration_of(DeclarationKind kind) {
  Declaration declaration;
  declaration.kind = kind;
  return declaration;
}

bool is_upper_case_letter(UChar32 c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z';
  return u_hasBinaryProperty(c, UCHAR_UPPERCASE) != 0;
}

// `Final` or `<anything>.Final`, without a subscript.
bool is_final_name(const Expr& expr) {
  if (const auto* name = expr.as<python::Name>()) return name->id == "Final";
  if (const auto* attribute = expr.as<python::Attribute>()) return attribute->attr == "Final";
  return false;
}

}  // namespace

bool is_private_name(std::string_view name) {
  if (name.size() < 2 || name[0] != '_') return false;
  return !(name.starts_with("__") && name.ends_with("__"));
}

bool is_constant_name(std::string_view name) {
  bool has_upper = false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
  const auto length = static_cast<int32_t>(name.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c = bytes[i];
    if (c < 0x80) {
      ++i;  // Most names are ASCII; skip the decoder for them.
    } else {
      U8_NEXT(bytes, i, length, c);
    }
    if (c == '_' || (c >= '0' && c <= '9')) continue;
    if (c < 0 || !is_upper_case_letter(c)) return false;
    has_upper = true;
  }
  return has_upper;
}

bool is_final_annotation(const Expr& annotation) {
  if (is_final_name(annotation)) return true;
  const auto* subscript = annotation.as<python::Subscript>();
  return subscript != nullptr && is_final_name(*subscript->value);
}

Symbol& Scope::get_or_add_symbol(std::string_view name) {
  return symbol_map.try_emplace(name).first->second;
}

void Declarations::push_back(Declaration declaration) {
  if (count_ == 0) {
    first_kind_ = declaration.kind;
    first_is_constant_ = declaration.is_constant;
    first_is_final_ = declaration.is_final;
  }
  if (declaration.kind == DeclarationKind::Import && !has_kind(DeclarationKind::Import)) {
    first_import_alias_ = std::move(declaration.alias_info);
  }
  kinds_ |= bit(declaration.kind);
  ++count_;
}

Declaration Declarations::front() const {
  Declaration first;
  first.kind = first_kind_;
  first.is_constant = first_is_constant_;
  first.is_final = first_is_final_;
  return first;
}

Binder::Binder(FileInfo file_info) : file_info_(std::move(file_info)) {}

BinderResult Binder::bind_module(python::StmtList body) && {
  begin_module();
  // Roughly one name per top-level statement; saves the rehashes of growing from empty.
  scopes_.back().symbol_map.reserve(body.size());
  for (const Stmt* stmt : body) bind_top_level_statement(*stmt);
  return std::move(*this).finish_module();
}

void Binder::begin_module() {
  scopes_.push_back(
      Scope{{}, file_info_.module_name == "builtins" ? ScopeKind::Builtins : ScopeKind::Module});
}

void Binder::bind_top_level_statement(const Stmt& stmt) {
  // Binding never reads `__all__`: its flags are settled at the end, so reading its operations
  // statement by statement gives what reading them all first would.
  removals_buffer_.clear();
  extract_dunder_all_from_stmt(stmt, dunder_all_names_, removals_buffer_);
  for (std::string_view removed : removals_buffer_) dunder_all_removals_.emplace_back(removed);
  bind_statement(stmt);
}

BinderResult Binder::finish_module() && {
  for (const std::string& removed : dunder_all_removals_) {
    if (auto it = dunder_all_names_.find(removed); it != dunder_all_names_.end()) {
      dunder_all_names_.erase(it);
    }
  }
  if (!dunder_all_names_.empty() || dunder_all_dynamic_) dunder_all_ = std::move(dunder_all_names_);

  Scope& scope = current_scope();
  const bool has_names = dunder_all_ && !dunder_all_->empty();
  if (has_names) {
    for (const std::string& name : *dunder_all_) {
      if (auto it = scope.symbol_map.find(name); it != scope.symbol_map.end()) {
        it->second.flags |= SymbolFlags::kInDunderAll;
      }
    }
  }
  const uint32_t hidden_flag =
      file_info_.is_stub ? SymbolFlags::kHidden : SymbolFlags::kPyTypedHidden;
  for (const std::string& candidate : hidden_candidates_) {
    auto it = scope.symbol_map.find(candidate);
    if (it == scope.symbol_map.end()) continue;
    if (!has_names || !dunder_all_->contains(candidate)) it->second.flags |= hidden_flag;
  }

  // Logged only now: a module streamed to the binder may still turn out not to parse, and then
  // it has bound nothing.
  for (const WildcardImport& wildcard : wildcard_imports_) {
    KLOG_TRACE(kLogTarget, "Recording wildcard import from {}", wildcard.module_name);
  }

  if (scopes_.empty()) internal_error("No scope to pop");
  BinderResult result{std::move(scopes_.back()), std::move(dunder_all_),
                      std::move(wildcard_imports_)};
  scopes_.pop_back();
  return result;
}

Scope& Binder::current_scope() {
  if (scopes_.empty()) internal_error("No scope on stack");
  return scopes_.back();
}

Symbol& Binder::bind_name_to_scope(std::string_view name) {
  Scope& scope = current_scope();
  Symbol& symbol = scope.get_or_add_symbol(name);
  if (scope.kind == ScopeKind::Builtins && is_private_name(name)) {
    symbol.flags |= SymbolFlags::kHidden;
  }
  return symbol;
}

void Binder::declare(std::string_view name, Declaration declaration) {
  bind_name_to_scope(name).declarations.push_back(std::move(declaration));
}

void Binder::bind_statements(python::StmtList statements) {
  for (const Stmt* stmt : statements) bind_statement(*stmt);
}

void Binder::bind_statement(const Stmt& stmt) {
  switch (stmt.kind) {
    case NodeKind::FunctionDef:
      declare(static_cast<const python::FunctionDef&>(stmt).name,
              declaration_of(DeclarationKind::Function));
      return;
    case NodeKind::ClassDef:
      declare(static_cast<const python::ClassDef&>(stmt).name,
              declaration_of(DeclarationKind::Class));
      return;
    case NodeKind::TypeAlias:
      if (const auto* name = static_cast<const python::TypeAlias&>(stmt).name->as<python::Name>()) {
        declare(name->id, declaration_of(DeclarationKind::TypeAlias));
      }
      return;
    case NodeKind::Assign:
      for (const Expr* target : static_cast<const python::Assign&>(stmt).targets) {
        bind_assignment_target(*target, false);
      }
      return;
    case NodeKind::AnnAssign: {
      const auto& assign = static_cast<const python::AnnAssign&>(stmt);
      bind_assignment_target(*assign.target, is_final_annotation(*assign.annotation));
      return;
    }
    case NodeKind::For: {
      const auto& loop = static_cast<const python::For&>(stmt);
      bind_assignment_target(*loop.target, false);
      bind_statements(loop.body);
      bind_statements(loop.orelse);
      return;
    }
    case NodeKind::While: {
      const auto& loop = static_cast<const python::While&>(stmt);
      bind_statements(loop.body);
      bind_statements(loop.orelse);
      return;
    }
    case NodeKind::If:
      bind_if(static_cast<const python::If&>(stmt));
      return;
    case NodeKind::With: {
      const auto& with = static_cast<const python::With&>(stmt);
      for (const python::WithItem* item : with.items) {
        if (item->optional_vars != nullptr) bind_assignment_target(*item->optional_vars, false);
      }
      bind_statements(with.body);
      return;
    }
    case NodeKind::Match:
      for (const python::MatchCase* match_case : static_cast<const python::Match&>(stmt).cases) {
        bind_pattern(*match_case->pattern);
        bind_statements(match_case->body);
      }
      return;
    case NodeKind::Try:
      bind_try(static_cast<const python::Try&>(stmt));
      return;
    case NodeKind::Import:
      bind_import(static_cast<const python::Import&>(stmt));
      return;
    case NodeKind::ImportFrom:
      bind_import_from(static_cast<const python::ImportFrom&>(stmt));
      return;
    default:
      // Augmented assignments, global/nonlocal, expression statements and the simple
      // statements bind nothing.
      return;
  }
}

void Binder::bind_assignment_target(const Expr& target, bool is_final) {
  if (const auto* name = target.as<python::Name>()) {
    Declaration declaration = declaration_of(DeclarationKind::Variable);
    declaration.is_constant = is_constant_name(name->id);
    declaration.is_final = is_final;
    declare(name->id, std::move(declaration));
    return;
  }
  python::ExprList elements;
  if (const auto* list = target.as<python::List>()) elements = list->elts;
  if (const auto* tuple = target.as<python::Tuple>()) elements = tuple->elts;
  // `Final` marks only a lone name; unpacked elements never are.
  for (const Expr* element : elements) bind_assignment_target(*element, false);
}

void Binder::bind_pattern(const python::Pattern& pattern) {
  switch (pattern.kind) {
    case NodeKind::MatchAs: {
      const auto& capture = static_cast<const python::MatchAs&>(pattern);
      if (!capture.name.empty()) declare(capture.name, declaration_of(DeclarationKind::Variable));
      if (capture.pattern != nullptr) bind_pattern(*capture.pattern);
      return;
    }
    case NodeKind::MatchStar: {
      const auto& star = static_cast<const python::MatchStar&>(pattern);
      if (!star.name.empty()) declare(star.name, declaration_of(DeclarationKind::Variable));
      return;
    }
    case NodeKind::MatchMapping: {
      const auto& mapping = static_cast<const python::MatchMapping&>(pattern);
      for (const python::Pattern* value : mapping.patterns) bind_pattern(*value);
      if (!mapping.rest.empty()) declare(mapping.rest, declaration_of(DeclarationKind::Variable));
      return;
    }
    case NodeKind::MatchSequence:
      for (const python::Pattern* element :
           static_cast<const python::MatchSequence&>(pattern).patterns) {
        bind_pattern(*element);
      }
      return;
    case NodeKind::MatchClass: {
      const auto& cls = static_cast<const python::MatchClass&>(pattern);
      for (const python::Pattern* positional : cls.patterns) bind_pattern(*positional);
      for (const python::Pattern* keyword : cls.kwd_patterns) bind_pattern(*keyword);
      return;
    }
    case NodeKind::MatchOr:
      for (const python::Pattern* alternative :
           static_cast<const python::MatchOr&>(pattern).patterns) {
        bind_pattern(*alternative);
      }
      return;
    default:
      // Value and singleton patterns bind nothing.
      return;
  }
}

StaticBool Binder::evaluate_test(const Expr& test) const {
  return static_expressions::evaluate_static_bool_expression(test, file_info_.python_version,
                                                             sys_alias());
}

void Binder::bind_if(const python::If& stmt) {
  switch (evaluate_test(*stmt.test)) {
    case StaticBool::True:
      bind_statements(stmt.body);
      return;
    case StaticBool::False:
      bind_elif_else_clauses(stmt.elif_else_clauses);
      return;
    case StaticBool::Unknown:
      // An undecided test keeps every branch; later tests are not consulted at all.
      bind_statements(stmt.body);
      for (const python::ElifElseClause* clause : stmt.elif_else_clauses) {
        bind_statements(clause->body);
      }
      return;
  }
}

void Binder::bind_elif_else_clauses(std::span<python::ElifElseClause* const> clauses) {
  for (const python::ElifElseClause* clause : clauses) {
    if (clause->test == nullptr) {
      bind_statements(clause->body);
      continue;
    }
    const StaticBool value = evaluate_test(*clause->test);
    if (value == StaticBool::False) continue;
    bind_statements(clause->body);
    if (value == StaticBool::True) return;
  }
}

void Binder::bind_try(const python::Try& stmt) {
  bind_statements(stmt.body);
  for (const python::ExceptHandler* handler : stmt.handlers) {
    if (!handler->name.empty()) declare(handler->name, declaration_of(DeclarationKind::Variable));
    bind_statements(handler->body);
  }
  bind_statements(stmt.orelse);
  bind_statements(stmt.finalbody);
}

void Binder::bind_import(const python::Import& stmt) {
  for (const python::Alias* alias : stmt.names) {
    const bool has_alias = !alias->asname.empty();
    const std::string_view bound =
        has_alias ? alias->asname : alias->name.substr(0, alias->name.find('.'));
    if (has_alias && alias->name == "sys") sys_alias_.emplace(alias->asname);
    Declaration declaration = declaration_of(DeclarationKind::Import);
    declaration.alias_info.emplace(AliasInfo{std::string(alias->name), std::nullopt});
    declare(bound, std::move(declaration));
    // `import x as x` is the explicit re-export form and is never hidden.
    if (!(has_alias && alias->asname == alias->name)) track_potential_hidden_symbol(bound);
  }
}

void Binder::bind_import_from(const python::ImportFrom& stmt) {
  module_text_.assign(stmt.level, '.');
  module_text_.append(stmt.module);
  for (const python::Alias* alias : stmt.names) {
    if (alias->name == "*") {
      bind_wildcard_import(module_text_);
      return;
    }
  }
  for (const python::Alias* alias : stmt.names) {
    const bool has_alias = !alias->asname.empty();
    const std::string_view bound = has_alias ? alias->asname : alias->name;
    Declaration declaration = declaration_of(DeclarationKind::Import);
    declaration.alias_info.emplace(AliasInfo{module_text_, std::string(alias->name)});
    declare(bound, std::move(declaration));
    if (!(has_alias && alias->asname == alias->name)) track_potential_hidden_symbol(bound);
  }
}

void Binder::track_potential_hidden_symbol(std::string_view name) {
  current_scope();  // Both scope kinds are module scopes; only an empty stack is an error.
  if (!(file_info_.is_stub || file_info_.is_py_typed)) return;
  if (!hidden_candidates_.contains(name)) hidden_candidates_.emplace(name);
}

void Binder::bind_wildcard_import(std::string_view module_name) {
  wildcard_imports_.push_back(WildcardImport{std::string(module_name)});
}

}  // namespace korvane::binder
