// Reading JSON text with the diagnostics a client sees.
//
//   auto v = json::parse(R"({"a":[1,2})");
//   if (!v) return v.error();  // "expected `,` or `]` at line 1 column 10"
//
// Every error ends in " at line {} column {}": lines count from 1, the column is the number
// of bytes since the start of the line. An error found while looking at a byte is placed just
// after it; one found after a value was read is placed where reading stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/value.h"
#include "util/result.h"

namespace korvane::json {

// Arrays and objects nested this deep (the outermost counting as 1) are refused.
inline constexpr int kMaxDepth = 128;

// `text` as one JSON value with nothing but white space after it.
Result<Value> parse(std::string_view text);

// One value that was checked but not built, as a message keeps what only some of its handlers
// read: a tree of values takes many times the text's size. It views the text it was read
// from. An empty text stands for a value that was not given.
struct RawValue {
  std::string_view text;
  friend bool operator==(const RawValue&, const RawValue&) = default;
};

// The tree of a checked value; null for one that was not given. Text that was not checked
// first by Cursor::check_value is a programming error and aborts when it does not parse.
Value build(const RawValue& raw);

// The cursor under parse() and under record decoding from text. Every error text it returns
// carries its position already.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  std::size_t offset() const { return pos_; }
  // Skips JSON white space and returns the next byte, or nothing at the end.
  std::optional<char> peek();
  void bump() { ++pos_; }

  // `message` placed at the current offset, or just after the byte peek() returned.
  std::string error(std::string_view message) const;
  std::string peek_error(std::string_view message) const;

  // One value; `depth` is the number of arrays and objects around it.
  Result<Value> parse_value(int depth);
  // Checks one value exactly as parse_value(depth) would, with the same errors at the same
  // places, but builds nothing: returns the value's text, from its first byte to its last.
  Result<std::string_view> check_value(int depth);
  // Checks the form of one value of any depth and skips it. Nesting is not limited, and
  // neither the range of its numbers nor the code points of its escapes are checked, as
  // nothing of it is kept.
  Result<void> skip_value();
  // The rest of a string whose opening quote was consumed.
  Result<std::string> parse_string();

  // Iterating a container whose opening bracket was consumed: true when another element
  // (or member) follows; false at the closing bracket, which is left unconsumed. For a
  // member the cursor then sits just after the opening quote of its name.
  Result<bool> next_element(bool& first);
  Result<bool> next_key(bool& first);
  Result<void> member_colon();
  // After a fixed number of elements: the closing bracket, else "trailing characters" /
  // "trailing comma". Consumes the bracket.
  Result<void> end_array();
  // Only white space may follow the top value.
  Result<void> end_of_text();

  // `message` placed where reading stops once decoding a record failed after a value was read
  // (or at the record's end): the white space after it is read, then the record's closing
  // bracket when it comes next; in an array a separating comma is read too, with the white
  // space after it.
  std::string object_stop_error(std::string_view message);
  std::string array_stop_error(std::string_view message);

 private:
  std::string at(std::size_t offset, std::string_view message) const;
  Result<Value> parse_scalar(char first);
  // As parse_scalar, keeping nothing.
  Result<void> check_scalar(char first);
  // Walks one value without building it; with `depth`, nesting is limited as parse_value
  // limits it.
  Result<void> walk_value(std::optional<int> depth);
  // The rest of a string, appended to `out` unless it is null.
  Result<void> read_string(std::string* out);
  Result<Value> parse_array(int depth);
  Result<Value> parse_object(int depth);
  // A number's text as read_number found it: `magnitude` is its value when no fraction, no
  // exponent and no more digits than 64 bits hold made it a float. Its magnitude is below
  // 10^(integer_digits + exponent).
  struct NumberForm {
    std::size_t start = 0;
    bool negative = false;
    bool is_float = false;
    uint64_t magnitude = 0;
    std::size_t integer_digits = 0;
    int64_t exponent = 0;  // capped far beyond the range of a double
  };
  Result<void> read_number(NumberForm& n);
  static std::optional<Number> integer_value(const NumberForm& n);
  Result<double> float_value(const NumberForm& n) const;
  Result<Value> parse_number();
  Result<void> check_number();
  Result<void> expect_ident(std::string_view rest);
  Result<uint32_t> parse_hex4();
  Result<void> parse_escape(std::string* out);

  std::string_view text_;
  std::size_t pos_ = 0;
  bool skipping_ = false;
};

}  // namespace korvane::json
