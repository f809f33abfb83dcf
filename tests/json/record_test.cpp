#include "json/record.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace korvane::json {
namespace {

struct Version {
  uint8_t major = 0;
  uint8_t minor = 0;
  friend bool operator==(const Version&, const Version&) = default;
};

inline auto json_record(RecordTag<Version>) {
  return record<Version>("Version", required("major", &Version::major),
                         required("minor", &Version::minor));
}

struct Entry {
  std::string path;
  std::optional<std::string> label;  // optional: an array must still carry it
  bool flag = false;
  bool on = false;
  std::optional<double> size;
  std::vector<std::string> names;
  std::optional<Version> version;
  uint32_t depth = 7;
  friend bool operator==(const Entry&, const Entry&) = default;
};

inline auto json_record(RecordTag<Entry>) {
  return record<Entry>("Entry", required("path", &Entry::path), optional("label", &Entry::label),
                       defaulted("flag", &Entry::flag), defaulted("on", &Entry::on, true),
                       defaulted("size", &Entry::size), defaulted("names", &Entry::names),
                       defaulted("version", &Entry::version), defaulted("depth", &Entry::depth));
}

Value must_parse(const char* text) {
  auto v = parse(text);
  EXPECT_TRUE(v) << text << ": " << v.error();
  return v ? *v : Value();
}

struct FailCase {
  const char* name;
  const char* json;
  const char* want;
};

// Each row is a malformed record a client could send, and the exact text it gets back.
const FailCase kFailCases[] = {
    {"not_a_record", "5", "invalid type: integer `5`, expected struct Entry"},
    {"null_record", "null", "invalid type: null, expected struct Entry"},
    {"string_record", R"("a\"b")", R"(invalid type: string "a\"b", expected struct Entry)"},
    {"missing_required", "{}", "missing field `path`"},
    {"null_required_text", R"({"path":null})", "invalid type: null, expected a string"},
    {"bool_refuses_null", R"({"path":"p","flag":null})", "invalid type: null, expected a boolean"},
    {"f64_refuses_bool", R"({"path":"p","size":true})",
     "invalid type: boolean `true`, expected f64"},
    {"list_refuses_null", R"({"path":"p","names":null})",
     "invalid type: null, expected a sequence"},
    {"list_element", R"({"path":"p","names":["a",1]})",
     "invalid type: integer `1`, expected a string"},
    {"u8_too_large", R"({"path":"p","version":{"major":256,"minor":0}})",
     "invalid value: integer `256`, expected u8"},
    {"u8_negative", R"({"path":"p","version":[-1,0]})", "invalid value: integer `-1`, expected u8"},
    {"u8_float", R"({"path":"p","version":[3.0,0]})",
     "invalid type: floating point `3.0`, expected u8"},
    {"u8_fraction", R"({"path":"p","version":[3.5,0]})",
     "invalid type: floating point `3.5`, expected u8"},
    {"u32_negative", R"({"path":"p","depth":-1})", "invalid value: integer `-1`, expected u32"},
    {"nested_missing", R"({"path":"p","version":{"major":3}})", "missing field `minor`"},
    {"nested_short_array", R"({"path":"p","version":[3]})",
     "invalid length 1, expected struct Version with 2 elements"},
    {"nested_long_array", R"({"path":"p","version":[3,12,0]})",
     "invalid length 3, expected fewer elements in array"},
    {"nested_wrong_type", R"({"path":"p","version":"3.12"})",
     R"(invalid type: string "3.12", expected struct Version)"},
    {"empty_array", "[]", "invalid length 0, expected struct Entry with 8 elements"},
    // The optional label has no default, so the array must hold it.
    {"array_without_optional", R"(["p"])",
     "invalid length 1, expected struct Entry with 8 elements"},
    {"array_too_long", R"(["p",null,false,true,1,[],null,1,0])",
     "invalid length 9, expected fewer elements in array"},
    // Members are taken in ascending name order: "depth" < "path" is reported first.
    {"first_wrong_in_name_order", R"({"path":1,"depth":"x"})",
     R"(invalid type: string "x", expected u32)"},
    // A wrong member is reported before a missing one.
    {"wrong_before_missing", R"({"flag":1})", "invalid type: integer `1`, expected a boolean"},
};

class RecordFailTest : public testing::TestWithParam<FailCase> {};

TEST_P(RecordFailTest, ReportsExactText) {
  auto r = decode<Entry>(must_parse(GetParam().json));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Json, RecordFailTest, testing::ValuesIn(kFailCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(RecordDecode, ObjectFormFillsDefaultsAndSkipsUnknownMembers) {
  auto r = decode<Entry>(must_parse(R"({"path":"a.py","unknown":{"deep":[1,2]},"label":null})"));
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(*r, (Entry{"a.py", std::nullopt, false, true, std::nullopt, {}, std::nullopt, 7}));
}

TEST(RecordDecode, ArrayFormMatchesObjectForm) {
  auto from_object = decode<Entry>(must_parse(
      R"({"path":"p","label":"l","flag":true,"on":false,"size":170,"names":["x"],"version":{"major":3,"minor":12},"depth":2})"));
  auto from_array = decode<Entry>(must_parse(R"(["p","l",true,false,170,["x"],[3,12],2])"));
  ASSERT_TRUE(from_object) << from_object.error();
  ASSERT_TRUE(from_array) << from_array.error();
  EXPECT_EQ(*from_object, *from_array);
  EXPECT_EQ(from_array->size, 170.0);
  EXPECT_EQ(from_array->version, (Version{3, 12}));
}

TEST(RecordDecode, ShortArrayTakesDefaultsAfterTheLastElement) {
  auto r = decode<Entry>(must_parse(R"(["p",null,true])"));
  ASSERT_TRUE(r) << r.error();
  EXPECT_TRUE(r->flag);
  EXPECT_TRUE(r->on);  // stated default
  EXPECT_EQ(r->depth, 7u);
}

TEST(RecordDecode, ListOfRecords) {
  auto r = decode<std::vector<Version>>(must_parse(R"([[3,8],{"minor":9,"major":3}])"));
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(*r, (std::vector<Version>{{3, 8}, {3, 9}}));
}

struct Envelope {
  std::string kind;
  std::optional<int64_t> id;
  Value body;
};

inline auto json_record(RecordTag<Envelope>) {
  return record<Envelope>("Envelope", required("kind", &Envelope::kind),
                          optional("id", &Envelope::id), defaulted("body", &Envelope::body));
}

// Decoding from text reports the position where reading stopped.
const FailCase kTextFailCases[] = {
    {"duplicate", R"({"kind":"a","kind":"b"})", "duplicate field `kind` at line 1 column 18"},
    {"missing", R"({"id":1})", "missing field `kind` at line 1 column 8"},
    {"wrong_type", R"({"kind":5})",
     "invalid type: integer `5`, expected a string at line 1 column 9"},
    {"not_a_record", "5", "invalid type: integer `5`, expected struct Envelope at line 1 column 1"},
    {"short_array", R"(["a"])",
     "invalid length 1, expected struct Envelope with 3 elements at line 1 column 5"},
    {"long_array", R"(["a",1,{},2])", "trailing characters at line 1 column 11"},
    {"long_array_comma", R"(["a",1,{},])", "trailing comma at line 1 column 11"},
    {"trailing_text", R"({"kind":"a"} x)", "trailing characters at line 1 column 14"},
    {"bad_unknown_value", R"({"kind":"a","x":[1,]})", "trailing comma at line 1 column 20"},
    {"empty", "", "EOF while parsing a value at line 1 column 0"},
};

class TextRecordFailTest : public testing::TestWithParam<FailCase> {};

TEST_P(TextRecordFailTest, ReportsTextAndPosition) {
  auto r = decode_text<Envelope>(GetParam().json);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Json, TextRecordFailTest, testing::ValuesIn(kTextFailCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(TextRecordDecode, SkipsUnknownMembersBeyondTheDepthLimit) {
  const std::string deep = std::string(200, '[') + std::string(200, ']');
  auto r = decode_text<Envelope>(R"({"x":)" + deep + R"(,"kind":"k","id":null})");
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->kind, "k");
  EXPECT_FALSE(r->id);
}

TEST(TextRecordDecode, SkippedValuesAreOnlyCheckedForForm) {
  // Nothing of an unknown member is kept, so its number range and escapes do not matter...
  auto r = decode_text<Envelope>(R"({"x":[1e400,"\udc00\ud800"],"kind":"k"})");
  ASSERT_TRUE(r) << r.error();
  // ...but its form does, and a kept member is checked in full.
  EXPECT_EQ(decode_text<Envelope>(R"({"x":[1e],"kind":"k"})").error(),
            "invalid number at line 1 column 9");
  EXPECT_EQ(decode_text<Envelope>(R"({"kind":"k","body":1e400})").error(),
            "number out of range at line 1 column 24");
}

TEST(TextRecordDecode, DepthLimitCountsTheRecordAsFirstLevel) {
  auto nested = [](int levels) { return std::string(levels, '[') + std::string(levels, ']'); };
  EXPECT_TRUE(decode_text<Envelope>(R"({"kind":"k","body":)" + nested(126) + "}"));
  auto r = decode_text<Envelope>(R"({"kind":"k","body":)" + nested(127) + "}");
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), "recursion limit exceeded at line 1 column 146");
}

}  // namespace
}  // namespace korvane::json
