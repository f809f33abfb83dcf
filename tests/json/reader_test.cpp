#include "json/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "json/writer.h"

namespace korvane::json {
namespace {

struct SyntaxCase {
  const char* name;
  std::string text;
  const char* want;  // the whole error text
};

// Each row is malformed text a client could send; the text and the position are what it sees.
const SyntaxCase kSyntaxCases[] = {
    {"empty", "", "EOF while parsing a value at line 1 column 0"},
    {"only_space", "  \n ", "EOF while parsing a value at line 2 column 1"},
    {"bad_start", "x", "expected value at line 1 column 1"},
    {"eof_in_list", "[1,", "EOF while parsing a value at line 1 column 3"},
    {"eof_after_list_item", "[1", "EOF while parsing a list at line 1 column 2"},
    {"eof_in_object", "{\"a\":1", "EOF while parsing an object at line 1 column 6"},
    {"eof_in_string", "\"abc", "EOF while parsing a string at line 1 column 4"},
    {"misspelt_true", "tru ", "expected ident at line 1 column 4"},
    {"cut_null", "nul", "EOF while parsing a value at line 1 column 3"},
    {"missing_colon", "{\"a\" 1}", "expected `:` at line 1 column 6"},
    {"bad_list_separator", "[1 2]", "expected `,` or `]` at line 1 column 4"},
    {"bad_object_separator", "{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
    {"key_not_string", "{1:2}", "key must be a string at line 1 column 2"},
    {"unknown_escape", "\"\\q\"", "invalid escape at line 1 column 3"},
    {"bad_hex_escape", "\"\\u12G4\"", "invalid escape at line 1 column 6"},
    {"leading_zero", "01", "invalid number at line 1 column 2"},
    {"minus_alone", "-x", "invalid number at line 1 column 2"},
    {"dot_without_digit", "1.x", "invalid number at line 1 column 3"},
    {"exponent_without_digit", "1ex", "invalid number at line 1 column 3"},
    {"out_of_range", "1e400", "number out of range at line 1 column 5"},
    {"negative_out_of_range", "-1e400", "number out of range at line 1 column 6"},
    {"just_out_of_range", "1.8e308", "number out of range at line 1 column 7"},
    {"long_integer_out_of_range", "1" + std::string(309, '0'),
     "number out of range at line 1 column 310"},
    {"lone_trailing_surrogate", "\"\\udc00\"",
     "lone leading surrogate in hex escape at line 1 column 7"},
    {"leading_without_partner", "\"\\ud800x\"", "unexpected end of hex escape at line 1 column 8"},
    {"leading_with_bad_partner", "\"\\ud800\\u0041\"",
     "lone leading surrogate in hex escape at line 1 column 13"},
    {"raw_control", "\"a\tb\"",
     "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
    {"trailing_comma_list", "[1,]", "trailing comma at line 1 column 4"},
    {"trailing_comma_object", "{\"a\":1,}", "trailing comma at line 1 column 8"},
    {"trailing_characters", "1 2", "trailing characters at line 1 column 3"},
    {"line_counting", "[\n1,\n  x]", "expected value at line 3 column 3"},
};

class SyntaxTest : public testing::TestWithParam<SyntaxCase> {};

TEST_P(SyntaxTest, ReportsTextAndPosition) {
  auto v = parse(GetParam().text);
  ASSERT_FALSE(v) << write(*v);
  EXPECT_EQ(v.error(), GetParam().want);
}

// A value that is only checked must fail exactly as one that is built: a client sees the same
// text whether or not its method reads the value.
TEST_P(SyntaxTest, CheckingWithoutBuildingReportsTheSame) {
  Cursor c(GetParam().text);
  auto checked = c.check_value(0);
  auto r = checked ? c.end_of_text() : Result<void>(Unexpected(checked.error()));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Json, SyntaxTest, testing::ValuesIn(kSyntaxCases),
                         [](const auto& p) { return std::string(p.param.name); });

struct NumberCase {
  const char* text;
  Number want;
};

// A number keeps the class it was written in; integer members and ids depend on it.
const NumberCase kNumberCases[] = {
    {"0", Number::u64(0)},
    {"18446744073709551615", Number::u64(18446744073709551615ULL)},
    {"18446744073709551616", Number::f64(18446744073709551616.0)},
    {"-1", Number::i64(-1)},
    {"-9223372036854775808", Number::i64(INT64_MIN)},
    {"-9223372036854775809", Number::f64(-9223372036854775809.0)},
    {"1.5", Number::f64(1.5)},
    {"1e3", Number::f64(1000.0)},
    {"1E+2", Number::f64(100.0)},
    {"2.5e-1", Number::f64(0.25)},
    {"1e-400", Number::f64(0.0)},
};

TEST(JsonNumbers, KeepTheirClass) {
  for (const auto& c : kNumberCases) {
    auto v = parse(c.text);
    ASSERT_TRUE(v) << c.text << ": " << v.error();
    ASSERT_NE(v->if_number(), nullptr) << c.text;
    EXPECT_EQ(*v->if_number(), c.want) << c.text;
  }
}

TEST(JsonNumbers, MinusZeroIsAFloat) {
  auto v = parse("-0");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->if_number()->kind(), Number::Kind::F64);
  EXPECT_TRUE(std::signbit(v->if_number()->f64_value()));
}

TEST(JsonObjects, RepeatedNameKeepsTheLaterValueAndMembersAreSorted) {
  auto v = parse(R"({"b":1,"Z":2,"a":3,"b":4})");
  ASSERT_TRUE(v);
  EXPECT_EQ(write(*v), R"({"Z":2,"a":3,"b":4})");
}

TEST(JsonObjects, LargeObjectsSortAndKeepTheLaterValueToo) {
  // Past the small-object path: 40 names written in descending order, one of them twice.
  std::string text = "{";
  for (int i = 39; i >= 0; --i) text += fmt::format("\"k{:02}\":{},", i, i);
  text += "\"k07\":\"last\"}";
  auto v = parse(text);
  ASSERT_TRUE(v) << v.error();
  const Object& o = *v->if_object();
  ASSERT_EQ(o.size(), 40u);
  EXPECT_EQ(o.begin()->key, "k00");
  EXPECT_EQ(*o.find("k07")->if_string(), "last");
  EXPECT_TRUE(std::is_sorted(o.begin(), o.end(),
                             [](const Member& a, const Member& b) { return a.key < b.key; }));
}

TEST(JsonStrings, EscapesDecode) {
  auto v = parse(R"("a\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00")");
  ASSERT_TRUE(v) << v.error();
  EXPECT_EQ(*v->if_string(), "a\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(JsonDepth, LimitCountsTheOutermostLevel) {
  auto nested = [](int levels) { return std::string(levels, '[') + std::string(levels, ']'); };
  EXPECT_TRUE(parse(nested(127)));
  auto too_deep = parse(nested(128));
  ASSERT_FALSE(too_deep);
  EXPECT_EQ(too_deep.error(), "recursion limit exceeded at line 1 column 128");
}

TEST(JsonCheck, KeepsTheTextAndLimitsDepthAsParsing) {
  Cursor c(R"( [1, {"a": "\u00e9"}] ,)");
  auto text = c.check_value(0);
  ASSERT_TRUE(text) << text.error();
  EXPECT_EQ(*text, R"([1, {"a": "\u00e9"}])");
  EXPECT_EQ(write(build(RawValue{*text})), R"([1,{"a":"é"}])");
  EXPECT_EQ(c.peek(), ',');

  // Near the top of the range, where a check cannot tell from the digits alone.
  for (const std::string& in_range :
       std::vector<std::string>{"1.7e308", "0.001e310", "-1.7976931348623157e308", "1e-400",
                                std::string(308, '9'), "1" + std::string(400, '0') + "e-100"}) {
    EXPECT_TRUE(Cursor(in_range).check_value(0)) << in_range;
    EXPECT_TRUE(parse(in_range)) << in_range;
  }

  auto nested = [](int levels) { return std::string(levels, '[') + std::string(levels, ']'); };
  EXPECT_TRUE(Cursor(nested(127)).check_value(0));
  const std::string too_deep = nested(128);
  EXPECT_EQ(Cursor(too_deep).check_value(0).error(),
            "recursion limit exceeded at line 1 column 128");
  EXPECT_TRUE(build(RawValue{}).is_null());
}

TEST(JsonSkip, SkipsAnyDepthAndStillChecksSyntax) {
  const std::string deep = std::string(10000, '[') + std::string(10000, ']') + " 7";
  Cursor ok(deep);
  ASSERT_TRUE(ok.skip_value());
  EXPECT_EQ(ok.peek(), '7');

  Cursor bad(R"({"a":[1,{"b":tru}]})");
  auto r = bad.skip_value();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), "expected ident at line 1 column 17");
}

}  // namespace
}  // namespace korvane::json
