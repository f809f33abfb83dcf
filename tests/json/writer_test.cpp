#include "json/writer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "json/reader.h"

namespace korvane::json {
namespace {

struct EscapeCase {
  std::string in;
  const char* want;
};

// Escaping that clients rely on: lower-case hex, slash and non-ASCII left alone.
const EscapeCase kEscapeCases[] = {
    {"plain", R"("plain")"},
    {"q\"b\\", R"("q\"b\\")"},
    {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
    {std::string("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
    {"\x7f", "\"\x7f\""},
    {"a/b", R"("a/b")"},
    {"caf\xC3\xA9 \xE2\x80\xA8", "\"caf\xC3\xA9 \xE2\x80\xA8\""},
};

TEST(JsonWriter, EscapesStrings) {
  for (const auto& c : kEscapeCases) {
    std::string out;
    append_quoted(out, c.in);
    EXPECT_EQ(out, c.want);
  }
}

TEST(JsonWriter, WritesCompactTextThatReadsBack) {
  const char* text =
      R"({"a":[1,-2,1.5,true,false,null,"x"],"b":{},"c":[],"d":18446744073709551615})";
  auto v = parse(text);
  ASSERT_TRUE(v) << v.error();
  EXPECT_EQ(write(*v), text);
}

TEST(JsonWriter, StreamsNestedContainers) {
  std::string out;
  Writer w(out);
  w.begin_object();
  w.key("list");
  w.begin_array();
  w.u64(1);
  w.begin_object();
  w.end_object();
  w.raw("[2]");
  w.end_array();
  w.key("n");
  w.i64(-3);
  w.end_object();
  EXPECT_EQ(out, R"({"list":[1,{},[2]],"n":-3})");
}

TEST(JsonWriter, FloatsKeepAFractionAndNonFiniteIsNull) {
  EXPECT_EQ(write(Value(170.0)), "170.0");
  EXPECT_EQ(write(Value(10.5)), "10.5");
  EXPECT_EQ(write(Value(std::numeric_limits<double>::infinity())), "null");
}

}  // namespace
}  // namespace korvane::json
