#include "binder/static_expressions.h"

#include <compare>

namespace korvane::binder::static_expressions {
namespace {

using python::CmpOperator;
using python::Expr;

constexpr uint64_t kMaxVersionNumber = 255;

StaticBool from_bool(bool value) { return value ? StaticBool::True : StaticBool::False; }

StaticBool negate(StaticBool value) {
  switch (value) {
    case StaticBool::False:
      return StaticBool::True;
    case StaticBool::True:
      return StaticBool::False;
    case StaticBool::Unknown:
      break;
  }
  return StaticBool::Unknown;
}

// A literal integer that fits the 64-bit value the parser keeps.
const python::IntLiteral* small_int(const Expr* expr) {
  if (expr == nullptr) return nullptr;
  const auto* literal = expr->as<python::IntLiteral>();
  return literal != nullptr && !literal->too_big ? literal : nullptr;
}

bool is_int_literal(const Expr* expr, uint64_t value) {
  const auto* literal = small_int(expr);
  return literal != nullptr && literal->value == value;
}

bool is_sys_reference(const Expr& expr, std::optional<std::string_view> sys_alias) {
  const auto* name = expr.as<python::Name>();
  if (name == nullptr) return false;
  return name->id == "sys" || (sys_alias && name->id == *sys_alias);
}

bool is_version_info_attribute(const Expr& expr, std::optional<std::string_view> sys_alias) {
  const auto* attribute = expr.as<python::Attribute>();
  return attribute != nullptr && attribute->attr == "version_info" &&
         is_sys_reference(*attribute->value, sys_alias);
}

std::optional<VersionInfoAccess> subscript_access(const Expr& index) {
  if (const auto* slice = index.as<python::Slice>()) {
    // `[:2]` is the (major, minor) pair; the step does not change which items come first.
    if (slice->lower == nullptr && is_int_literal(slice->upper, 2)) {
      return VersionInfoAccess::Whole;
    }
    return std::nullopt;
  }
  if (is_int_literal(&index, 0)) return VersionInfoAccess::Major;
  if (is_int_literal(&index, 1)) return VersionInfoAccess::Minor;
  return std::nullopt;
}

bool apply_ordering(std::strong_ordering order, CmpOperator op) {
  switch (op) {
    case CmpOperator::Eq:
      return order == 0;
    case CmpOperator::NotEq:
      return order != 0;
    case CmpOperator::Lt:
      return order < 0;
    case CmpOperator::LtE:
      return order <= 0;
    case CmpOperator::Gt:
      return order > 0;
    case CmpOperator::GtE:
      return order >= 0;
    case CmpOperator::Is:
    case CmpOperator::IsNot:
    case CmpOperator::In:
    case CmpOperator::NotIn:
      break;
  }
  return false;
}

// The operator that keeps the meaning when its operands swap sides; nullopt for identity and
// membership, which do not mirror.
std::optional<CmpOperator> mirrored(CmpOperator op) {
  switch (op) {
    case CmpOperator::Eq:
    case CmpOperator::NotEq:
      return op;
    case CmpOperator::Lt:
      return CmpOperator::Gt;
    case CmpOperator::LtE:
      return CmpOperator::GtE;
    case CmpOperator::Gt:
      return CmpOperator::Lt;
    case CmpOperator::GtE:
      return CmpOperator::LtE;
    case CmpOperator::Is:
    case CmpOperator::IsNot:
    case CmpOperator::In:
    case CmpOperator::NotIn:
      break;
  }
  return std::nullopt;
}

StaticBool evaluate_comparison(const python::Compare& compare, std::optional<PythonVersion> version,
                               std::optional<std::string_view> sys_alias) {
  // Chained comparisons are not decided, even when every link could be.
  if (!version || compare.ops.size() != 1 || compare.comparators.size() != 1) {
    return StaticBool::Unknown;
  }
  const Expr& left = *compare.left;
  const Expr& right = *compare.comparators[0];
  const CmpOperator op = compare.ops[0];
  if (auto access = extract_version_info_value(left, sys_alias)) {
    if (auto tuple = extract_version_tuple(right)) {
      return evaluate_version_binary_operation(version->major, version->minor, *access, op, *tuple);
    }
  }
  if (auto access = extract_version_info_value(right, sys_alias)) {
    if (auto tuple = extract_version_tuple(left)) {
      auto swapped = mirrored(op);
      if (!swapped) return StaticBool::Unknown;
      return evaluate_version_binary_operation(version->major, version->minor, *access, *swapped,
                                               *tuple);
    }
  }
  return StaticBool::Unknown;
}

StaticBool evaluate_bool_op(const python::BoolOp& bool_op, std::optional<PythonVersion> version,
                            std::optional<std::string_view> sys_alias) {
  // `and` is decided by any False operand, `or` by any True one; otherwise every operand
  // must agree on the other answer.
  const StaticBool deciding =
      bool_op.op == python::BoolOperator::And ? StaticBool::False : StaticBool::True;
  bool all_decided = true;
  for (const Expr* operand : bool_op.values) {
    const StaticBool value = evaluate_static_bool_expression(*operand, version, sys_alias);
    if (value == deciding) return deciding;
    if (value == StaticBool::Unknown) all_decided = false;
  }
  return all_decided ? negate(deciding) : StaticBool::Unknown;
}

}  // namespace

StaticBool evaluate_static_bool_expression(const Expr& expr, std::optional<PythonVersion> version,
                                           std::optional<std::string_view> sys_alias) {
  switch (expr.kind) {
    case python::NodeKind::BooleanLiteral:
      return from_bool(static_cast<const python::BooleanLiteral&>(expr).value);
    case python::NodeKind::Name:
      return static_cast<const python::Name&>(expr).id == "TYPE_CHECKING" ? StaticBool::False
                                                                          : StaticBool::Unknown;
    case python::NodeKind::Attribute: {
      const auto& attribute = static_cast<const python::Attribute&>(expr);
      const auto* module = attribute.value->as<python::Name>();
      const bool typing_flag =
          attribute.attr == "TYPE_CHECKING" && module != nullptr && module->id == "typing";
      return typing_flag ? StaticBool::False : StaticBool::Unknown;
    }
    case python::NodeKind::UnaryOp: {
      const auto& unary = static_cast<const python::UnaryOp&>(expr);
      if (unary.op != python::UnaryOperator::Not) return StaticBool::Unknown;
      return negate(evaluate_static_bool_expression(*unary.operand, version, sys_alias));
    }
    case python::NodeKind::BoolOp:
      return evaluate_bool_op(static_cast<const python::BoolOp&>(expr), version, sys_alias);
    case python::NodeKind::Compare:
      return evaluate_comparison(static_cast<const python::Compare&>(expr), version, sys_alias);
    default:
      return StaticBool::Unknown;
  }
}

std::optional<VersionInfoAccess> extract_version_info_value(
    const Expr& expr, std::optional<std::string_view> sys_alias) {
  if (is_version_info_attribute(expr, sys_alias)) return VersionInfoAccess::Whole;
  const auto* subscript = expr.as<python::Subscript>();
  if (subscript == nullptr || !is_version_info_attribute(*subscript->value, sys_alias)) {
    return std::nullopt;
  }
  return subscript_access(*subscript->slice);
}

std::optional<VersionTuple> extract_version_tuple(const Expr& expr) {
  if (const auto* literal = small_int(&expr)) {
    if (literal->value > kMaxVersionNumber) return std::nullopt;
    return VersionTuple{static_cast<uint8_t>(literal->value)};
  }
  const auto* tuple = expr.as<python::Tuple>();
  if (tuple == nullptr || tuple->elts.empty()) return std::nullopt;
  VersionTuple numbers;
  for (const Expr* element : tuple->elts) {
    const auto* literal = small_int(element);
    if (literal == nullptr || literal->value > kMaxVersionNumber) return std::nullopt;
    numbers.push_back(static_cast<uint8_t>(literal->value));
  }
  return numbers;
}

StaticBool evaluate_version_binary_operation(uint8_t major, uint8_t minor, VersionInfoAccess access,
                                             CmpOperator op, const VersionTuple& tuple) {
  if (tuple.empty()) return StaticBool::Unknown;
  std::strong_ordering order = std::strong_ordering::equal;
  switch (access) {
    case VersionInfoAccess::Major:
    case VersionInfoAccess::Minor: {
      if (tuple.size() != 1) return StaticBool::Unknown;
      const uint8_t item = access == VersionInfoAccess::Major ? major : minor;
      order = item <=> tuple[0];
      break;
    }
    case VersionInfoAccess::Whole: {
      const uint8_t wanted_minor = tuple.size() > 1 ? tuple[1] : 0;
      order = major <=> tuple[0];
      if (order == 0) order = minor <=> wanted_minor;
      break;
    }
  }
  return from_bool(apply_ordering(order, op));
}

}  // namespace korvane::binder::static_expressions
