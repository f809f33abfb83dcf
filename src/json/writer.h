// Compact JSON text, written straight into a string.
//
//   std::string out;
//   json::Writer w(out);
//   w.begin_object();
//   w.key("kind");  w.u64(12);        // members in ascending byte order of their names:
//   w.key("name");  w.string("run");  // debug builds abort when a key breaks that order
//   w.end_object();                   // out == {"kind":12,"name":"run"}
//
// Records write themselves through a Writer with their members in the fixed order, so results
// are never sorted at run time; the largest, indexFiles results, skip the Writer and are
// appended as text by protocol/index_files.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"

namespace korvane::json {

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  void null();
  void boolean(bool b);
  void u64(uint64_t v);
  void i64(int64_t v);
  void f64(double v);  // NaN and infinities are written as null, as JSON has no form for them
  void number(const Number& n);
  void string(std::string_view s);
  void value(const Value& v);
  // Already encoded JSON text, copied as it is.
  void raw(std::string_view json);

  void begin_object();
  void key(std::string_view name);
  void end_object();
  void begin_array();
  void end_array();

 private:
  void separate();

  std::string& out_;
  bool need_comma_ = false;
#ifndef NDEBUG
  std::vector<std::string> last_keys_;  // one per open object: guards the ascending order
#endif
};

// `s` as a JSON string with its quotes, appended to `out`: quote and backslash escaped,
// \b \t \n \f \r, other controls as \u00xx with lower-case hex, everything else as it is.
void append_quoted(std::string& out, std::string_view s);

// JSON text that is already encoded, such as a handler's result, written later as it is.
struct Encoded {
  std::string text;
  friend bool operator==(const Encoded&, const Encoded&) = default;
};

// The compact text of a value (object members are already in ascending order).
std::string write(const Value& value);

}  // namespace korvane::json
