#include "protocol/lifecycle.h"

#include <gtest/gtest.h>

#include <string>

#include "json/reader.h"

namespace korvane::protocol {
namespace {

json::Value parse(const char* text) {
  auto v = json::parse(text);
  EXPECT_TRUE(v) << text;
  return v ? *v : json::Value();
}

struct InitCase {
  const char* name;
  const char* params;
  const char* error;  // nullptr: decodes
  FeatureFlags flags;
};

// initialize params as clients send them; the flags have two levels of defaults.
const InitCase kInitCases[] = {
    {"flags_absent", R"({"protocolVersion":"1.0.0"})", nullptr, {false, false, false}},
    {"flags_empty",
     R"({"protocolVersion":"1.0.0","featureFlags":{}})",
     nullptr,
     {false, true, true}},
    {"flags_given",
     R"({"protocolVersion":"1","featureFlags":{"verbose":true,"parallel":false}})",
     nullptr,
     {true, false, true}},
    {"flags_array",
     R"({"protocolVersion":"1","featureFlags":[true]})",
     nullptr,
     {true, true, true}},
    {"flags_null",
     R"({"protocolVersion":"1","featureFlags":null})",
     "invalid type: null, expected struct FeatureFlags",
     {}},
    {"flag_not_bool",
     R"({"protocolVersion":"1","featureFlags":{"parallel":"yes"}})",
     R"(invalid type: string "yes", expected a boolean)",
     {}},
    {"params_null", "null", "invalid type: null, expected struct InitializeParams", {}},
    {"client_info_null", R"({"protocolVersion":"x","clientInfo":null})", nullptr, {}},
    {"client_info_empty", R"({"protocolVersion":"x","clientInfo":{}})", "missing field `name`", {}},
    {"client_info_ok",
     R"({"protocolVersion":"x","clientInfo":{"name":"ed","version":null}})",
     nullptr,
     {}},
    {"array_short",
     R"(["x"])",
     "invalid length 1, expected struct InitializeParams with 3 elements",
     {}},
    {"array_two", R"(["x",null])", nullptr, {false, false, false}},
    {"array_long", R"(["x",null,{},1])", "invalid length 4, expected fewer elements in array", {}},
    // Members of a value are taken in name order: featureFlags fails before protocolVersion.
    {"first_in_name_order",
     R"({"protocolVersion":1,"featureFlags":5})",
     "invalid type: integer `5`, expected struct FeatureFlags",
     {}},
    {"version_missing", R"({"featureFlags":{}})", "missing field `protocolVersion`", {}},
};

TEST(InitializeParams, Decode) {
  for (const auto& c : kInitCases) {
    auto r = json::decode<InitializeParams>(parse(c.params));
    if (c.error != nullptr) {
      ASSERT_FALSE(r) << c.name;
      EXPECT_EQ(r.error(), c.error) << c.name;
      continue;
    }
    ASSERT_TRUE(r) << c.name << ": " << r.error();
    EXPECT_EQ(r->feature_flags, c.flags) << c.name;
  }
}

TEST(CancelParams, Decode) {
  const struct {
    const char* params;
    const char* id;  // nullptr: fails
  } cases[] = {
      {R"({"id":7,"other":[1]})", "7"},
      {"[7]", "7"},
      {R"({"id":"a"})", "a"},
      {R"({"id":null})", nullptr},
      {"[]", nullptr},
      {R"({"id":1.5})", nullptr},
      {"null", nullptr},
      {R"({"x":1})", nullptr},
  };
  for (const auto& c : cases) {
    auto r = json::decode<CancelParams>(parse(c.params));
    if (c.id == nullptr) {
      EXPECT_FALSE(r) << c.params;
    } else {
      ASSERT_TRUE(r) << c.params << ": " << r.error();
      EXPECT_EQ(r->id.to_string(), c.id);
    }
  }
  EXPECT_EQ(json::decode<CancelParams>(parse("[]")).error(),
            "invalid length 0, expected struct CancelParams with 1 element");
}

TEST(LifecycleResults, WrittenWithSortedMembers) {
  EXPECT_EQ(encode_initialize_result().text,
            R"({"capabilities":{"maxBatchSize":1000,"supportsBatchIndexing":true,)"
            R"("supportsCancellation":true},"protocolVersion":"1.0.0",)"
            R"("serverInfo":{"name":"korvane-indexer","version":"0.1.0"}})");
  EXPECT_EQ(encode_ping_result(42).text, R"({"pong":true,"uptimeMs":42})");
}

}  // namespace
}  // namespace korvane::protocol
