#include "json/writer.h"

#include <array>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>

namespace korvane::json {

namespace {

// 0: written as is; otherwise the letter after the backslash, or 'u' for \u00xx.
constexpr std::array<char, 256> make_escape_table() {
  std::array<char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['\b'] = 'b';
  t['\t'] = 't';
  t['\n'] = 'n';
  t['\f'] = 'f';
  t['\r'] = 'r';
  t['"'] = '"';
  t['\\'] = '\\';
  return t;
}

constexpr std::array<char, 256> kEscape = make_escape_table();

}  // namespace

void append_quoted(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char e = kEscape[static_cast<unsigned char>(s[i])];
    if (e == 0) continue;
    out.append(s.data() + run, i - run);
    run = i + 1;
    out.push_back('\\');
    out.push_back(e);
    if (e == 'u') {
      const auto c = static_cast<unsigned char>(s[i]);
      out.append("00");
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  out.append(s.data() + run, s.size() - run);
  out.push_back('"');
}

void Writer::separate() {
  if (need_comma_) out_.push_back(',');
  need_comma_ = true;
}

void Writer::null() {
  separate();
  out_.append("null");
}

void Writer::boolean(bool b) {
  separate();
  out_.append(b ? "true" : "false");
}

void Writer::u64(uint64_t v) {
  separate();
  const fmt::format_int digits(v);
  out_.append(digits.data(), digits.size());
}

void Writer::i64(int64_t v) {
  separate();
  const fmt::format_int digits(v);
  out_.append(digits.data(), digits.size());
}

void Writer::f64(double v) {
  if (!std::isfinite(v)) return null();
  separate();
  out_.append(format_float(v));
}

void Writer::number(const Number& n) {
  switch (n.kind()) {
    case Number::Kind::U64:
      return u64(n.u64_value());
    case Number::Kind::I64:
      return i64(n.i64_value());
    case Number::Kind::F64:
      break;
  }
  f64(n.f64_value());
}

void Writer::string(std::string_view s) {
  separate();
  append_quoted(out_, s);
}

void Writer::raw(std::string_view json) {
  separate();
  out_.append(json);
}

void Writer::begin_object() {
  separate();
  out_.push_back('{');
  need_comma_ = false;
#ifndef NDEBUG
  last_keys_.emplace_back();
#endif
}

void Writer::key(std::string_view name) {
#ifndef NDEBUG
  // An empty name sorts first, so only a second empty name could slip through unnoticed.
  if (last_keys_.empty() || (!last_keys_.back().empty() && name <= last_keys_.back())) {
    std::abort();  // members of a result must be written in ascending order of their names
  }
  last_keys_.back().assign(name);
#endif
  separate();
  append_quoted(out_, name);
  out_ += ':';
  need_comma_ = false;
}

void Writer::end_object() {
  out_.push_back('}');
  need_comma_ = true;
#ifndef NDEBUG
  last_keys_.pop_back();
#endif
}

void Writer::begin_array() {
  separate();
  out_.push_back('[');
  need_comma_ = false;
}

void Writer::end_array() {
  out_.push_back(']');
  need_comma_ = true;
}

void Writer::value(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kNull:
      return null();
    case Value::Kind::kBool:
      return boolean(*v.if_bool());
    case Value::Kind::kNumber:
      return number(*v.if_number());
    case Value::Kind::kString:
      return string(*v.if_string());
    case Value::Kind::kArray:
      begin_array();
      for (const Value& e : *v.if_array()) value(e);
      return end_array();
    case Value::Kind::kObject:
      break;
  }
  begin_object();
  for (const Member& m : *v.if_object()) {
    key(m.key);
    value(m.value);
  }
  end_object();
}

std::string write(const Value& value) {
  std::string out;
  out.reserve(128);
  Writer w(out);
  w.value(value);
  return out;
}

}  // namespace korvane::json
