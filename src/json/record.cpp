#include "json/record.h"

#include <fmt/format.h>

namespace korvane::json {

std::string invalid_type(const Value& found, std::string_view expected) {
  return fmt::format("invalid type: {}, expected {}", describe(found), expected);
}

std::string invalid_value(const Value& found, std::string_view expected) {
  return fmt::format("invalid value: {}, expected {}", describe(found), expected);
}

std::string missing_field(std::string_view name) { return fmt::format("missing field `{}`", name); }

std::string invalid_length(std::size_t length, std::string_view expected) {
  return fmt::format("invalid length {}, expected {}", length, expected);
}

std::string struct_text(std::string_view name) { return fmt::format("struct {}", name); }

std::string length_text(std::string_view name, std::size_t size) {
  return fmt::format("struct {} with {} element{}", name, size, size == 1 ? "" : "s");
}

namespace detail {

Result<void> decode_string(const Value& v, std::string& out) {
  const std::string* s = v.if_string();
  if (s == nullptr) return Unexpected(invalid_type(v, "a string"));
  out = *s;
  return {};
}

Result<void> decode_bool(const Value& v, bool& out) {
  const bool* b = v.if_bool();
  if (b == nullptr) return Unexpected(invalid_type(v, "a boolean"));
  out = *b;
  return {};
}

Result<void> decode_f64(const Value& v, double& out) {
  const Number* n = v.if_number();
  if (n == nullptr) return Unexpected(invalid_type(v, "f64"));
  out = n->as_f64();
  return {};
}

Result<void> decode_integer(const Value& v, int64_t min, uint64_t max, std::string_view expected,
                            Number& out) {
  const Number* n = v.if_number();
  if (n == nullptr || !n->is_integer()) return Unexpected(invalid_type(v, expected));
  const bool in_range =
      n->kind() == Number::Kind::U64 ? n->u64_value() <= max : n->i64_value() >= min;
  if (!in_range) return Unexpected(invalid_value(v, expected));
  out = *n;
  return {};
}

}  // namespace detail

}  // namespace korvane::json
