// The JSON value that holds a request's params and, in tests, any parsed text.
//
//   json::Object o;
//   o.insert_or_assign("b", json::Value(2));
//   o.insert_or_assign("a", json::Value("x"));   // members stay in ascending byte order
//   json::Value v(std::move(o));
//   if (const json::Value* a = v.find("a")) use(a->as_string());
//
// Numbers keep the class they were written in: unsigned 64-bit, signed 64-bit (negatives only)
// or 64-bit float, because decoding errors and integer members depend on it.
#pragma once

#include <compare>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace korvane::json {

class Number {
 public:
  enum class Kind : uint8_t { U64, I64, F64 };

  static Number u64(uint64_t v) { return Number(Kind::U64, v, 0, 0); }
  // A non-negative value is kept as unsigned, as a reader would have kept it.
  static Number i64(int64_t v) {
    return v >= 0 ? u64(static_cast<uint64_t>(v)) : Number(Kind::I64, 0, v, 0);
  }
  static Number f64(double v) { return Number(Kind::F64, 0, 0, v); }

  Kind kind() const { return kind_; }
  bool is_integer() const { return kind_ != Kind::F64; }
  uint64_t u64_value() const { return u_; }
  int64_t i64_value() const { return i_; }
  double f64_value() const { return f_; }
  // Any class converted to a double (integers to the nearest one).
  double as_f64() const;

  friend bool operator==(const Number& a, const Number& b);

 private:
  Number(Kind kind, uint64_t u, int64_t i, double f) : kind_(kind), u_(u), i_(i), f_(f) {}
  Kind kind_;
  uint64_t u_;
  int64_t i_;
  double f_;
};

class Value;
struct Member;
using Array = std::vector<Value>;

// Members in ascending byte order of their names, one per name.
class Object {
 public:
  Object() = default;
  // Sorts `members`; of several members with one name the last one stays.
  static Object from_unsorted(std::vector<Member> members);

  // Replaces the value of an existing member.
  void insert_or_assign(std::string key, Value value);
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);

  std::size_t size() const;
  bool empty() const;
  std::vector<Member>::const_iterator begin() const;
  std::vector<Member>::const_iterator end() const;

  friend bool operator==(const Object& a, const Object& b);

 private:
  std::vector<Member> members_;
};

class Value {
 public:
  enum class Kind : uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };

  Value();
  Value(std::nullptr_t);  // NOLINT
  Value(bool b);          // NOLINT
  Value(Number n);        // NOLINT
  template <std::integral I>
  requires(!std::same_as<I, bool>) Value(I v)  // NOLINT
      : Value(std::is_signed_v<I> ? Number::i64(static_cast<int64_t>(v))
                                  : Number::u64(static_cast<uint64_t>(v))) {}
  Value(double v);            // NOLINT
  Value(std::string s);       // NOLINT
  Value(std::string_view s);  // NOLINT
  Value(const char* s);       // NOLINT
  Value(Array a);             // NOLINT
  Value(Object o);            // NOLINT
  Value(const Value&);
  Value(Value&&) noexcept;
  Value& operator=(const Value&);
  Value& operator=(Value&&) noexcept;
  ~Value();

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool is_null() const { return kind() == Kind::kNull; }

  // Each returns nullptr when the value is of another kind.
  const bool* if_bool() const { return std::get_if<bool>(&data_); }
  const Number* if_number() const { return std::get_if<Number>(&data_); }
  const std::string* if_string() const { return std::get_if<std::string>(&data_); }
  const Array* if_array() const { return std::get_if<Array>(&data_); }
  const Object* if_object() const { return std::get_if<Object>(&data_); }
  std::string* if_string() { return std::get_if<std::string>(&data_); }
  Array* if_array() { return std::get_if<Array>(&data_); }
  Object* if_object() { return std::get_if<Object>(&data_); }

  // The member `key` of an object; nullptr for a missing member or a value that is no object.
  const Value* find(std::string_view key) const;

  friend bool operator==(const Value& a, const Value& b);

 private:
  std::variant<std::monostate, bool, Number, std::string, Array, Object> data_;
};

struct Member {
  std::string key;
  Value value;
  friend bool operator==(const Member&, const Member&) = default;
};

// Defined once Member is complete: clang instantiates vector<Member>::size eagerly.
inline std::size_t Object::size() const { return members_.size(); }
inline bool Object::empty() const { return members_.empty(); }

// How a decoding error names the value it found: "null", "boolean `true`", "integer `5`",
// "floating point `1.5`", "string \"x\"", "sequence", "map".
std::string describe(const Value& value);

// The shortest text that reads back as `v`, with ".0" added to a whole number.
std::string format_float(double v);

}  // namespace korvane::json
