// Reading `__all__` from the literal forms a module uses to build it.
#include "binder/binder.h"

namespace korvane::binder {
namespace {

using python::Expr;

constexpr std::string_view kDunderAll = "__all__";

bool is_dunder_all(const Expr* expr) {
  if (expr == nullptr) return false;
  const auto* name = expr->as<python::Name>();
  return name != nullptr && name->id == kDunderAll;
}

// Appends the names `expr` lists to `out`; false (with `out` partly filled) when unreadable.
// Binary operations are walked with an explicit stack: a module may chain `+ [...]` thousands of
// times, and the parser builds such chains without recursion, so neither may we.
bool append_all_names(const Expr& expr, std::vector<std::string_view>& out) {
  absl::InlinedVector<const Expr*, 8> pending{&expr};
  while (!pending.empty()) {
    const Expr* current = pending.back();
    pending.pop_back();
    python::ExprList elements;
    if (const auto* list = current->as<python::List>()) {
      elements = list->elts;
    } else if (const auto* tuple = current->as<python::Tuple>()) {
      elements = tuple->elts;
    } else if (const auto* binary = current->as<python::BinOp>()) {
      // Any operator reads as concatenation (`['a'] * 2` fails on its right operand instead).
      pending.push_back(binary->right);
      pending.push_back(binary->left);
      continue;
    } else {
      return false;
    }
    for (const Expr* element : elements) {
      const auto* literal = element->as<python::StringLiteral>();
      if (literal == nullptr) return false;
      out.push_back(literal->value);
    }
  }
  return true;
}

void insert_name(NameSet& names, std::string_view name) {
  if (!names.contains(name)) names.emplace(name);
}

}  // namespace

std::optional<std::vector<std::string_view>> Binder::extract_all_names(const Expr& expr) {
  std::vector<std::string_view> names;
  if (!append_all_names(expr, names)) return std::nullopt;
  return names;
}

void Binder::add_dunder_all_names(const Expr& value, NameSet& names) {
  names_buffer_.clear();
  if (!append_all_names(value, names_buffer_)) {
    dunder_all_dynamic_ = true;
    return;
  }
  for (std::string_view name : names_buffer_) insert_name(names, name);
}

void Binder::extract_dunder_all_call(const python::Call& call, NameSet& names,
                                     std::vector<std::string_view>& removals) {
  const auto& method = static_cast<const python::Attribute&>(*call.func).attr;
  if (method == "extend") {
    if (call.args.size() != 1) return;
    const Expr& argument = *call.args[0];
    names_buffer_.clear();
    if (append_all_names(argument, names_buffer_)) {
      for (std::string_view name : names_buffer_) insert_name(names, name);
    } else if (!argument.is<python::Attribute>()) {
      // `__all__.extend(sub.__all__)` re-exports another module's list, which is read there;
      // any other unreadable argument makes ours unknowable.
      dunder_all_dynamic_ = true;
    }
    return;
  }
  const bool append = method == "append";
  if (append || method == "remove") {
    if (call.args.size() != 1) return;
    const auto* literal = call.args[0]->as<python::StringLiteral>();
    if (literal == nullptr) {
      dunder_all_dynamic_ = true;
    } else if (append) {
      insert_name(names, literal->value);
    } else {
      removals.push_back(literal->value);
    }
    return;
  }
  dunder_all_dynamic_ = true;
}

void Binder::extract_dunder_all_from_stmt(const python::Stmt& stmt, NameSet& names,
                                          std::vector<std::string_view>& removals) {
  switch (stmt.kind) {
    case python::NodeKind::Assign: {
      const auto& assign = static_cast<const python::Assign&>(stmt);
      for (const Expr* target : assign.targets) {
        if (is_dunder_all(target)) add_dunder_all_names(*assign.value, names);
      }
      return;
    }
    case python::NodeKind::AugAssign: {
      const auto& assign = static_cast<const python::AugAssign&>(stmt);
      if (is_dunder_all(assign.target)) add_dunder_all_names(*assign.value, names);
      return;
    }
    case python::NodeKind::ExprStmt: {
      const auto* call = static_cast<const python::ExprStmt&>(stmt).value->as<python::Call>();
      if (call == nullptr) return;
      const auto* method = call->func->as<python::Attribute>();
      if (method != nullptr && is_dunder_all(method->value)) {
        extract_dunder_all_call(*call, names, removals);
      }
      return;
    }
    case python::NodeKind::If: {
      // Every branch counts: the export list must not depend on the configured version.
      const auto& branch = static_cast<const python::If&>(stmt);
      for (const python::Stmt* inner : branch.body) {
        extract_dunder_all_from_stmt(*inner, names, removals);
      }
      for (const python::ElifElseClause* clause : branch.elif_else_clauses) {
        for (const python::Stmt* inner : clause->body) {
          extract_dunder_all_from_stmt(*inner, names, removals);
        }
      }
      return;
    }
    case python::NodeKind::Try: {
      const auto& attempt = static_cast<const python::Try&>(stmt);
      auto read = [&](python::StmtList statements) {
        for (const python::Stmt* inner : statements) {
          extract_dunder_all_from_stmt(*inner, names, removals);
        }
      };
      read(attempt.body);
      for (const python::ExceptHandler* handler : attempt.handlers) read(handler->body);
      read(attempt.orelse);
      read(attempt.finalbody);
      return;
    }
    default:
      return;
  }
}

}  // namespace korvane::binder
