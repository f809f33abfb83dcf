#include "json/value.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "json/writer.h"

namespace korvane::json {

double Number::as_f64() const {
  switch (kind_) {
    case Kind::U64:
      return static_cast<double>(u_);
    case Kind::I64:
      return static_cast<double>(i_);
    case Kind::F64:
      break;
  }
  return f_;
}

bool operator==(const Number& a, const Number& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Number::Kind::U64:
      return a.u_ == b.u_;
    case Number::Kind::I64:
      return a.i_ == b.i_;
    case Number::Kind::F64:
      break;
  }
  return a.f_ == b.f_;
}

namespace {

bool key_less(const Member& m, std::string_view key) { return std::string_view(m.key) < key; }

}  // namespace

Object Object::from_unsorted(std::vector<Member> members) {
  Object o;
  const auto out_of_order = [](const Member& a, const Member& b) { return a.key >= b.key; };
  if (std::adjacent_find(members.begin(), members.end(), out_of_order) == members.end()) {
    o.members_ = std::move(members);  // already sorted without repeats: the common case
    return o;
  }
  const auto less = [](const Member& a, const Member& b) { return a.key < b.key; };
  if (members.size() <= 32) {
    // Records are small: an insertion sort, stable and without stable_sort's scratch buffer.
    for (std::size_t i = 1; i < members.size(); ++i) {
      for (std::size_t j = i; j > 0 && less(members[j], members[j - 1]); --j) {
        std::swap(members[j], members[j - 1]);
      }
    }
  } else {
    std::stable_sort(members.begin(), members.end(), less);
  }
  // Stable sort keeps equal names in reading order; the later one replaces the earlier.
  std::vector<Member> unique;
  unique.reserve(members.size());
  for (auto& m : members) {
    if (!unique.empty() && unique.back().key == m.key) {
      unique.back().value = std::move(m.value);
    } else {
      unique.push_back(std::move(m));
    }
  }
  o.members_ = std::move(unique);
  return o;
}

void Object::insert_or_assign(std::string key, Value value) {
  auto it = std::lower_bound(members_.begin(), members_.end(), std::string_view(key), key_less);
  if (it != members_.end() && it->key == key) {
    it->value = std::move(value);
    return;
  }
  members_.insert(it, Member{std::move(key), std::move(value)});
}

const Value* Object::find(std::string_view key) const {
  auto it = std::lower_bound(members_.begin(), members_.end(), key, key_less);
  if (it == members_.end() || it->key != key) return nullptr;
  return &it->value;
}

Value* Object::find(std::string_view key) {
  return const_cast<Value*>(static_cast<const Object*>(this)->find(key));
}

std::vector<Member>::const_iterator Object::begin() const { return members_.begin(); }
std::vector<Member>::const_iterator Object::end() const { return members_.end(); }

bool operator==(const Object& a, const Object& b) { return a.members_ == b.members_; }

Value::Value() = default;
Value::Value(std::nullptr_t) {}
Value::Value(bool b) : data_(b) {}
Value::Value(Number n) : data_(n) {}
Value::Value(double v) : data_(Number::f64(v)) {}
Value::Value(std::string s) : data_(std::move(s)) {}
Value::Value(std::string_view s) : data_(std::string(s)) {}
Value::Value(const char* s) : data_(std::string(s)) {}
Value::Value(Array a) : data_(std::move(a)) {}
Value::Value(Object o) : data_(std::move(o)) {}
Value::Value(const Value&) = default;
Value::Value(Value&&) noexcept = default;
Value& Value::operator=(const Value&) = default;
Value& Value::operator=(Value&&) noexcept = default;
Value::~Value() = default;

const Value* Value::find(std::string_view key) const {
  const Object* o = if_object();
  return o == nullptr ? nullptr : o->find(key);
}

bool operator==(const Value& a, const Value& b) { return a.data_ == b.data_; }

std::string format_float(double v) {
  if (!std::isfinite(v)) return fmt::format("{}", v);
  std::string s = fmt::format("{}", v);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

std::string describe(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      return "null";
    case Value::Kind::kBool:
      return *value.if_bool() ? "boolean `true`" : "boolean `false`";
    case Value::Kind::kNumber: {
      const Number& n = *value.if_number();
      if (n.kind() == Number::Kind::U64) return fmt::format("integer `{}`", n.u64_value());
      if (n.kind() == Number::Kind::I64) return fmt::format("integer `{}`", n.i64_value());
      return fmt::format("floating point `{}`", format_float(n.f64_value()));
    }
    case Value::Kind::kString: {
      std::string out = "string ";
      append_quoted(out, *value.if_string());
      return out;
    }
    case Value::Kind::kArray:
      return "sequence";
    case Value::Kind::kObject:
      break;
  }
  return "map";
}

}  // namespace korvane::json
