// Records decoded from JSON by a field table, in object form or array form.
//
//   struct PythonVersionConfig {
//     uint8_t major = 0;
//     uint8_t minor = 0;
//   };
//   // Found by argument-dependent lookup: declare it next to the record.
//   inline auto json_record(json::RecordTag<PythonVersionConfig>) {
//     return json::record<PythonVersionConfig>(
//         "PythonVersionConfig",  // error texts say "struct PythonVersionConfig"
//         json::required("major", &PythonVersionConfig::major),
//         json::required("minor", &PythonVersionConfig::minor));
//   }
//   Result<PythonVersionConfig> v = json::decode<PythonVersionConfig>(params);
//   // v.error(): "invalid value: integer `256`, expected u8", "missing field `minor`",
//   // "invalid length 1, expected struct PythonVersionConfig with 2 elements", ...
//
// Field kinds (the order of the fields is the array form's order and the order in which
// missing members are reported):
//   required(name, &R::m)          missing: "missing field `name`"; short array: invalid length
//   optional(name, &R::m)          m is std::optional<T>; missing or null: none; a short array
//                                  still fails, since the element (maybe null) is expected
//   defaulted(name, &R::m)         missing, or past the end of a short array: the value that
//                                  R's default constructor gave m
//   defaulted(name, &R::m, value)  missing or past the end: `value`
// Member types and their "expected" texts: std::string "a string"; bool "a boolean" (null
// refused); unsigned and signed integers "u8", "u32", "i64", ... (range checked, floats
// refused); double "f64" (any number); std::vector<T> "a sequence"; std::optional<T> (null
// gives none, else as T); json::Value (anything); json::RawValue (anything, checked but left
// unbuilt; only when decoding from text); records "struct Name"; any other T through an ADL
// `Result<void> json_decode(const json::Value&, T&)`.
//
// Members of a Value are visited in ascending name order, so of several wrong members the
// first in that order is reported; unknown members are skipped. Longer arrays than the record
// fail with "invalid length {n}, expected fewer elements in array".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "json/reader.h"
#include "json/value.h"
#include "util/result.h"

namespace korvane::json {

template <class T>
struct RecordTag {};

struct RequiredKind {};
struct OptionalKind {};
struct KeepDefaultKind {};
template <class T>
struct ValueDefaultKind {
  T value;
};

template <class R, class T, class K>
struct Field {
  std::string_view name;
  T R::*member;
  K kind;
};

template <class R, class T>
Field<R, T, RequiredKind> required(std::string_view name, T R::*member) {
  return {name, member, {}};
}
template <class R, class T>
Field<R, std::optional<T>, OptionalKind> optional(std::string_view name,
                                                  std::optional<T> R::*member) {
  return {name, member, {}};
}
template <class R, class T>
Field<R, T, KeepDefaultKind> defaulted(std::string_view name, T R::*member) {
  return {name, member, {}};
}
template <class R, class T, class V>
Field<R, T, ValueDefaultKind<T>> defaulted(std::string_view name, T R::*member, V value) {
  return {name, member, {T(std::move(value))}};
}

template <class R, class... Fields>
struct RecordTable {
  std::string_view name;
  std::tuple<Fields...> fields;
  static constexpr std::size_t kSize = sizeof...(Fields);
};

template <class R, class... Fields>
RecordTable<R, Fields...> record(std::string_view name, Fields... fields) {
  return {name, std::tuple<Fields...>(std::move(fields)...)};
}

template <class T>
concept Record = requires {
  json_record(RecordTag<T>{});
};

// The error texts of value-level decoding.
std::string invalid_type(const Value& found, std::string_view expected);
std::string invalid_value(const Value& found, std::string_view expected);
std::string missing_field(std::string_view name);
std::string invalid_length(std::size_t length, std::string_view expected);
// "struct Name", and "struct Name with N elements" ("1 element").
std::string struct_text(std::string_view name);
std::string length_text(std::string_view name, std::size_t size);

template <class T>
Result<void> decode_value(const Value& v, T& out);

// Decodes a record (or any supported type) from a value.
template <class T>
Result<T> decode(const Value& v) {
  T out{};
  if (auto r = decode_value(v, out); !r) return Unexpected(std::move(r).error());
  return out;
}

namespace detail {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <class T>
struct IsVector : std::false_type {};
template <class T, class A>
struct IsVector<std::vector<T, A>> : std::true_type {};

Result<void> decode_string(const Value& v, std::string& out);
Result<void> decode_bool(const Value& v, bool& out);
Result<void> decode_f64(const Value& v, double& out);
// Range-checks an integer against [min, max]; `expected` names the type ("u8").
Result<void> decode_integer(const Value& v, int64_t min, uint64_t max, std::string_view expected,
                            Number& out);

template <class I>
std::string integer_name() {
  return (std::is_signed_v<I> ? "i" : "u") + std::to_string(sizeof(I) * 8);
}

template <class Table, class Fn, std::size_t... I>
void visit_field_impl(const Table& table, std::size_t index, Fn&& fn, std::index_sequence<I...>) {
  (void)((I == index ? (fn(std::get<I>(table.fields)), true) : false) || ...);
}

// Calls fn(field) for the field at `index`.
template <class Table, class Fn>
void visit_field(const Table& table, std::size_t index, Fn&& fn) {
  visit_field_impl(table, index, fn, std::make_index_sequence<Table::kSize>{});
}

template <class Table>
std::optional<std::size_t> find_field(const Table& table, std::string_view name) {
  std::optional<std::size_t> found;
  std::size_t i = 0;
  std::apply(
      [&](const auto&... f) { (void)((f.name == name ? (found = i, true) : (++i, false)) || ...); },
      table.fields);
  return found;
}

template <class Table, class R>
Result<void> decode_field(const Table& table, std::size_t index, const Value& v, R& out) {
  Result<void> result;
  visit_field(table, index, [&](const auto& f) { result = decode_value(v, out.*f.member); });
  return result;
}

// As above, from a value nobody else needs: a json::Value or string member takes it without a
// copy, so a long text is held once.
template <class Table, class R>
Result<void> decode_field(const Table& table, std::size_t index, Value&& v, R& out) {
  Result<void> result;
  visit_field(table, index, [&](const auto& f) {
    using M = std::decay_t<decltype(out.*f.member)>;
    if constexpr (std::is_same_v<M, Value>) {
      out.*f.member = std::move(v);
      return;
    } else if constexpr (std::is_same_v<M, std::string>) {
      if (std::string* s = v.if_string()) {
        out.*f.member = std::move(*s);
        return;
      }
    }
    result = decode_value(std::as_const(v), out.*f.member);
  });
  return result;
}

// Settles a field that has no value: from an object (`position` unset) or past the end of
// an array at `position`.
template <class Table, class R>
Result<void> settle_missing(const Table& table, std::size_t index,
                            std::optional<std::size_t> position, R& out) {
  Result<void> result;
  visit_field(table, index, [&](const auto& f) {
    using K = std::decay_t<decltype(f.kind)>;
    if constexpr (std::is_same_v<K, RequiredKind>) {
      result = position
                   ? Unexpected(invalid_length(*position, length_text(table.name, Table::kSize)))
                   : Unexpected(missing_field(f.name));
    } else if constexpr (std::is_same_v<K, OptionalKind>) {
      if (position) {
        result = Unexpected(invalid_length(*position, length_text(table.name, Table::kSize)));
      } else {
        (out.*f.member).reset();
      }
    } else if constexpr (!std::is_same_v<K, KeepDefaultKind>) {
      out.*f.member = f.kind.value;
    }
  });
  return result;
}

template <class Table, class R>
Result<void> settle_unseen(const Table& table, const std::array<bool, Table::kSize>& seen, R& out) {
  for (std::size_t i = 0; i < Table::kSize; ++i) {
    if (seen[i]) continue;
    if (auto r = settle_missing(table, i, std::nullopt, out); !r) return r;
  }
  return {};
}

template <class Table, class R>
Result<void> decode_members(const Table& table, const Object& object, R& out) {
  std::array<bool, Table::kSize> seen{};
  for (const Member& m : object) {
    auto index = find_field(table, m.key);
    if (!index) continue;
    seen[*index] = true;
    if (auto r = decode_field(table, *index, m.value, out); !r) return r;
  }
  return settle_unseen(table, seen, out);
}

template <class Table, class R>
Result<void> decode_elements(const Table& table, const Array& array, R& out) {
  for (std::size_t i = 0; i < Table::kSize; ++i) {
    auto r =
        i < array.size() ? decode_field(table, i, array[i], out) : settle_missing(table, i, i, out);
    if (!r) return r;
  }
  if (array.size() > Table::kSize) {
    return Unexpected(invalid_length(array.size(), "fewer elements in array"));
  }
  return {};
}

template <Record R>
Result<void> decode_record(const Value& v, R& out) {
  const auto table = json_record(RecordTag<R>{});
  if (const Object* o = v.if_object()) return decode_members(table, *o, out);
  if (const Array* a = v.if_array()) return decode_elements(table, *a, out);
  return Unexpected(invalid_type(v, struct_text(table.name)));
}

}  // namespace detail

template <class T>
Result<void> decode_value(const Value& v, T& out) {
  if constexpr (std::is_same_v<T, std::string>) {
    return detail::decode_string(v, out);
  } else if constexpr (std::is_same_v<T, bool>) {
    return detail::decode_bool(v, out);
  } else if constexpr (std::is_integral_v<T>) {
    Number n = Number::u64(0);
    auto r = detail::decode_integer(v, static_cast<int64_t>(std::numeric_limits<T>::min()),
                                    static_cast<uint64_t>(std::numeric_limits<T>::max()),
                                    detail::integer_name<T>(), n);
    if (!r) return r;
    out = n.kind() == Number::Kind::U64 ? static_cast<T>(n.u64_value())
                                        : static_cast<T>(n.i64_value());
    return {};
  } else if constexpr (std::is_same_v<T, double>) {
    return detail::decode_f64(v, out);
  } else if constexpr (std::is_same_v<T, Value>) {
    out = v;
    return {};
  } else if constexpr (std::is_same_v<T, RawValue>) {
    // A raw value views the text it was read from, which a built value no longer has.
    (void)v;
    (void)out;
    std::abort();
  } else if constexpr (detail::IsOptional<T>::value) {
    if (v.is_null()) {
      out.reset();
      return {};
    }
    typename T::value_type inner{};
    if (auto r = decode_value(v, inner); !r) return r;
    out = std::move(inner);
    return {};
  } else if constexpr (detail::IsVector<T>::value) {
    const Array* a = v.if_array();
    if (a == nullptr) return Unexpected(invalid_type(v, "a sequence"));
    T items;
    items.resize(a->size());
    for (std::size_t i = 0; i < a->size(); ++i) {
      if (auto r = decode_value((*a)[i], items[i]); !r) return r;
    }
    out = std::move(items);
    return {};
  } else if constexpr (Record<T>) {
    return detail::decode_record(v, out);
  } else {
    return json_decode(v, out);
  }
}

namespace detail {

// A member whose type is a single JSON scalar is checked as it is read: its error is placed
// right after the scalar, or before an array or object, which is then not read at all. Other
// members are read whole first, and their errors placed where reading of the record stops.
template <class T>
struct IsScalarMember
    : std::bool_constant<std::is_same_v<T, std::string> || std::is_arithmetic_v<T>> {};
template <class T>
struct IsScalarMember<std::optional<T>> : IsScalarMember<T> {};

// Checks the value of a raw field and keeps its text. False when field `index` is not raw.
template <class Table, class R>
bool take_raw_field(Cursor& c, const Table& table, std::size_t index, R& out,
                    Result<void>& result) {
  bool raw = false;
  visit_field(table, index, [&](const auto& f) {
    if constexpr (std::is_same_v<std::decay_t<decltype(out.*f.member)>, RawValue>) {
      raw = true;
      auto text = c.check_value(1);
      if (!text) {
        result = Unexpected(std::move(text).error());
      } else {
        (out.*f.member).text = *text;
      }
    }
  });
  return raw;
}

// Reads and decodes the value of field `index`; `in_array` tells which bracket ends the record.
template <class Table, class R>
Result<void> decode_text_field(Cursor& c, const Table& table, std::size_t index, bool in_array,
                               R& out) {
  if (Result<void> taken; take_raw_field(c, table, index, out, taken)) return taken;
  bool scalar = false;
  visit_field(table, index, [&](const auto& f) {
    scalar = IsScalarMember<std::decay_t<decltype(out.*f.member)>>::value;
  });
  if (scalar) {
    if (auto ch = c.peek(); ch == '[' || ch == '{') {
      // What a container would be told, without reading it: a scalar member refuses them all.
      auto refused = decode_field(table, index, *ch == '[' ? Value(Array{}) : Value(Object{}), out);
      return Unexpected(c.error(refused.error()));
    }
  }
  auto v = c.parse_value(1);
  if (!v) return Unexpected(std::move(v).error());
  auto r = decode_field(table, index, std::move(*v), out);
  if (r) return r;
  if (scalar) return Unexpected(c.error(r.error()));
  return Unexpected(in_array ? c.array_stop_error(r.error()) : c.object_stop_error(r.error()));
}

template <class Table, class R>
Result<void> decode_text_members(Cursor& c, const Table& table, R& out) {
  std::array<bool, Table::kSize> seen{};
  bool first = true;
  while (true) {
    auto more = c.next_key(first);
    if (!more) return Unexpected(std::move(more).error());
    if (!*more) break;
    auto key = c.parse_string();
    if (!key) return Unexpected(std::move(key).error());
    auto index = find_field(table, *key);
    if (index && seen[*index]) {
      return Unexpected(c.object_stop_error("duplicate field `" + *key + "`"));
    }
    if (auto colon = c.member_colon(); !colon) return colon;
    if (!index) {
      if (auto skipped = c.skip_value(); !skipped) return skipped;
      continue;
    }
    seen[*index] = true;
    if (auto r = decode_text_field(c, table, *index, false, out); !r) return r;
  }
  if (auto r = settle_unseen(table, seen, out); !r) {
    return Unexpected(c.object_stop_error(r.error()));
  }
  c.bump();  // '}'
  return {};
}

template <class Table, class R>
Result<void> decode_text_elements(Cursor& c, const Table& table, R& out) {
  bool first = true;
  for (std::size_t i = 0; i < Table::kSize; ++i) {
    auto more = c.next_element(first);
    if (!more) return Unexpected(std::move(more).error());
    if (*more) {
      if (auto r = decode_text_field(c, table, i, true, out); !r) return r;
    } else if (auto r = settle_missing(table, i, i, out); !r) {
      return Unexpected(c.array_stop_error(r.error()));
    }
  }
  return c.end_array();
}

}  // namespace detail

// Decodes a record straight from JSON text, as the envelope of every message is decoded:
// members in written order, "duplicate field `{}`" for a known member given twice, unknown
// members checked and skipped at any depth, and every error with its position.
template <Record R>
Result<R> decode_text(std::string_view text) {
  const auto table = json_record(RecordTag<R>{});
  Cursor c(text);
  R out{};
  auto ch = c.peek();
  if (!ch) return Unexpected(c.peek_error("EOF while parsing a value"));
  Result<void> r;
  if (*ch == '{' || *ch == '[') {
    c.bump();
    r = *ch == '{' ? detail::decode_text_members(c, table, out)
                   : detail::decode_text_elements(c, table, out);
  } else {
    auto v = c.parse_value(0);
    if (!v) return Unexpected(std::move(v).error());
    r = Unexpected(c.error(invalid_type(*v, struct_text(table.name))));
  }
  if (!r) return Unexpected(std::move(r).error());
  if (auto end = c.end_of_text(); !end) return Unexpected(end.error());
  return out;
}

}  // namespace korvane::json
