#include "protocol/jsonrpc.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane::protocol {
namespace {

constexpr const char* kNoVariant = "data did not match any variant of untagged enum RequestId";

struct RequestCase {
  const char* name;
  const char* body;
  const char* id;  // string form; nullptr: a notification
  const char* method;
  const char* params;  // compact text of params
};

// Bodies a client may send that must decode, and what they decode to.
const RequestCase kRequestCases[] = {
    {"object", R"({"jsonrpc":"2.0","id":1,"method":"ping"})", "1", "ping", "null"},
    {"array", R"(["2.0",1,"ping"])", "1", "ping", "null"},
    {"array_notification", R"(["2.0",null,"initialize",{}])", nullptr, "initialize", "{}"},
    {"old_version_text", R"({"jsonrpc":"1.0","method":"ping","id":7})", "7", "ping", "null"},
    {"text_id", R"({"jsonrpc":"2.0","id":"5","method":"ping"})", "5", "ping", "null"},
    {"negative_id", R"({"jsonrpc":"2.0","id":-5,"method":"ping"})", "-5", "ping", "null"},
    {"min_id", R"({"jsonrpc":"2.0","id":-9223372036854775808,"method":"ping"})",
     "-9223372036854775808", "ping", "null"},
    {"max_id", R"({"jsonrpc":"2.0","id":9223372036854775807,"method":"ping"})",
     "9223372036854775807", "ping", "null"},
    {"null_id", R"({"jsonrpc":"2.0","id":null,"method":"ping"})", nullptr, "ping", "null"},
    {"no_id", R"({"jsonrpc":"2.0","method":"ping"})", nullptr, "ping", "null"},
    {"null_params", R"({"jsonrpc":"2.0","id":1,"method":"x","params":null})", "1", "x", "null"},
    {"unknown_members", R"({"x":[{"deep":1}],"jsonrpc":"2.0","id":1,"method":"m","y":null})", "1",
     "m", "null"},
    {"params_sorted", R"({"jsonrpc":"2.0","id":1,"method":"m","params":{"b":1,"a":2,"b":3}})", "1",
     "m", R"({"a":2,"b":3})"},
    {"white_space", " \n{ \"jsonrpc\" : \"2.0\" ,\t\"id\" : 2 , \"method\" : \"m\" }\r\n", "2", "m",
     "null"},
};

class RequestDecodeTest : public testing::TestWithParam<RequestCase> {};

TEST_P(RequestDecodeTest, Decodes) {
  const auto& c = GetParam();
  auto r = decode_request(c.body);
  ASSERT_TRUE(r) << r.error();
  if (c.id == nullptr) {
    EXPECT_FALSE(r->id);
  } else {
    ASSERT_TRUE(r->id);
    EXPECT_EQ(r->id->to_string(), c.id);
  }
  EXPECT_EQ(r->method, c.method);
  EXPECT_EQ(json::write(json::build(r->params)), c.params);
}

INSTANTIATE_TEST_SUITE_P(Protocol, RequestDecodeTest, testing::ValuesIn(kRequestCases),
                         [](const auto& p) { return std::string(p.param.name); });

struct FailCase {
  const char* name;
  std::string body;
  std::string want;
};

// Bodies that must fail, with the exact text a client reads inside -32700.
const FailCase kFailCases[] = {
    {"empty", "", "EOF while parsing a value at line 1 column 0"},
    {"not_json", "x", "expected value at line 1 column 1"},
    {"number", "5", "invalid type: integer `5`, expected struct JsonRpcRequest at line 1 column 1"},
    {"null", "null", "invalid type: null, expected struct JsonRpcRequest at line 1 column 4"},
    {"short_array", R"(["2.0"])",
     "invalid length 1, expected struct JsonRpcRequest with 4 elements at line 1 column 7"},
    {"long_array", R"(["2.0",1,"ping",null,5])", "trailing characters at line 1 column 22"},
    {"array_trailing_comma", R"(["2.0",1,"ping",null,])", "trailing comma at line 1 column 22"},
    {"duplicate_id", R"({"jsonrpc":"2.0","method":"ping","id":1,"id":2})",
     "duplicate field `id` at line 1 column 44"},
    {"missing_method", R"({"jsonrpc":"2.0","id":1})", "missing field `method` at line 1 column 24"},
    {"missing_jsonrpc", R"({"method":"ping"})", "missing field `jsonrpc` at line 1 column 17"},
    {"null_method", R"({"jsonrpc":"2.0","method":null})",
     "invalid type: null, expected a string at line 1 column 30"},
    {"float_id", R"({"jsonrpc":"2.0","id":1.5,"method":"m"})",
     std::string(kNoVariant) + " at line 1 column 25"},
    {"exponent_id", R"({"jsonrpc":"2.0","id":1e3,"method":"m"})",
     std::string(kNoVariant) + " at line 1 column 25"},
    {"minus_zero_id", R"({"jsonrpc":"2.0","id":-0,"method":"m"})",
     std::string(kNoVariant) + " at line 1 column 24"},
    {"bool_id", R"({"jsonrpc":"2.0","id":true,"method":"m"})",
     std::string(kNoVariant) + " at line 1 column 26"},
    {"array_id", R"({"jsonrpc":"2.0","id":[1],"method":"m"})",
     std::string(kNoVariant) + " at line 1 column 25"},
    {"too_large_id", R"({"jsonrpc":"2.0","id":9223372036854775808,"method":"m"})",
     std::string(kNoVariant) + " at line 1 column 41"},
    {"trailing", R"({"jsonrpc":"2.0","method":"m"}})", "trailing characters at line 1 column 31"},
    // An error found after a value was read is placed where reading stopped: past the white
    // space after the value and past the record's closing bracket when that comes next.
    {"empty_object", "{}", "missing field `jsonrpc` at line 1 column 2"},
    {"blank_object", "{ }", "missing field `jsonrpc` at line 1 column 3"},
    {"missing_before_newline", "{\"jsonrpc\":\"2.0\",\"id\":1\n}",
     "missing field `method` at line 2 column 1"},
    {"empty_array", "[]",
     "invalid length 0, expected struct JsonRpcRequest with 4 elements at line 1 column 2"},
    {"two_elements", R"(["2.0",1])",
     "invalid length 2, expected struct JsonRpcRequest with 4 elements at line 1 column 9"},
    {"duplicate_before_space", R"({"jsonrpc":"2.0","id":1,"id" :2})",
     "duplicate field `id` at line 1 column 29"},
    {"duplicate_before_brace", R"({"jsonrpc":"2.0","method":"m","id":1,"id"})",
     "duplicate field `id` at line 1 column 42"},
    {"last_float_id", R"({"jsonrpc":"2.0","method":"m","id":1.5})",
     std::string(kNoVariant) + " at line 1 column 39"},
    {"last_float_id_space", R"({"jsonrpc":"2.0","method":"m","id":1.5 })",
     std::string(kNoVariant) + " at line 1 column 40"},
    {"float_id_space_comma", R"({"jsonrpc":"2.0","id":1.5 ,"method":"m"})",
     std::string(kNoVariant) + " at line 1 column 26"},
    // In an array the comma after the value is read, with the white space after it.
    {"array_float_id", R"(["2.0",1.5,"m"])", std::string(kNoVariant) + " at line 1 column 11"},
    {"array_float_id_spaces", R"(["2.0", 1.5 , "m"])",
     std::string(kNoVariant) + " at line 1 column 14"},
    {"array_last_bool_id", R"(["2.0",true])", std::string(kNoVariant) + " at line 1 column 12"},
    // A scalar member is refused right after the scalar, an array or object before it.
    {"number_method_space", R"({"jsonrpc":"2.0","method":5 })",
     "invalid type: integer `5`, expected a string at line 1 column 27"},
    {"array_jsonrpc", R"({"jsonrpc": [1,2],"method":"m"})",
     "invalid type: sequence, expected a string at line 1 column 12"},
    {"unread_object_method", R"({"jsonrpc":"2.0","method":{"a":)",
     "invalid type: map, expected a string at line 1 column 26"},
    {"array_form_array_jsonrpc", "[[1]]",
     "invalid type: sequence, expected a string at line 1 column 1"},
    // Params are checked in full though not built: their errors are those of a built value.
    {"params_out_of_range", R"({"jsonrpc":"2.0","method":"m","params":[1e400]})",
     "number out of range at line 1 column 45"},
    {"params_lone_surrogate", R"({"jsonrpc":"2.0","method":"m","params":{"\udc00":1}})",
     "lone leading surrogate in hex escape at line 1 column 47"},
    {"params_bad_partner", R"({"jsonrpc":"2.0","method":"m","params":["\ud800x"]})",
     "unexpected end of hex escape at line 1 column 48"},
    {"params_cut", R"({"jsonrpc":"2.0","method":"m","params":{"a":[1,)",
     "EOF while parsing a value at line 1 column 47"},
    {"params_missing_colon", R"({"jsonrpc":"2.0","method":"m","params":{"a" 1}})",
     "expected `:` at line 1 column 45"},
    {"params_then_duplicate", R"({"jsonrpc":"2.0","method":"m","params":[],"params":{})",
     "duplicate field `params` at line 1 column 50"},
    {"too_deep",
     R"({"jsonrpc":"2.0","method":"m","params":)" + std::string(127, '[') + std::string(127, ']') +
         "}",
     "recursion limit exceeded at line 1 column 166"},
};

class RequestFailTest : public testing::TestWithParam<FailCase> {};

TEST_P(RequestFailTest, ReportsTextAndPosition) {
  auto r = decode_request(GetParam().body);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Protocol, RequestFailTest, testing::ValuesIn(kFailCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(RequestDecode, DeepestAllowedParams) {
  const std::string body = R"({"jsonrpc":"2.0","method":"m","params":)" + std::string(126, '[') +
                           std::string(126, ']') + "}";
  EXPECT_TRUE(decode_request(body));
}

TEST(RequestDecode, KeepsParamsAsTheirTextUnbuilt) {
  const std::string body = R"({"jsonrpc":"2.0","id":1,"method":"m","params": [1, {"a" : "\n"}] })";
  auto r = decode_request(body);
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->params.text, R"([1, {"a" : "\n"}])");
  EXPECT_EQ(r->params.text.data(), body.data() + body.find('['));
  // In array form, and absent: an empty text that builds as null.
  EXPECT_EQ(decode_request(R"(["2.0",1,"m",{}])")->params.text, "{}");
  EXPECT_TRUE(decode_request(R"(["2.0",1,"m"])")->params.text.empty());
}

TEST(RequestId, NumberAndTextShareTheStringFormButDiffer) {
  EXPECT_NE(RequestId::number(5), RequestId::text("5"));
  EXPECT_EQ(RequestId::number(5).to_string(), RequestId::text("5").to_string());
}

struct ResponseCase {
  const char* name;
  JsonRpcResponse response;
  const char* want;
};

// The envelope keeps its declared order and escapes what JSON requires, nothing more.
const ResponseCase kResponseCases[] = {
    {"result", JsonRpcResponse::success(RequestId::number(1), json::Encoded{"{\"a\":1}"}),
     R"({"jsonrpc":"2.0","id":1,"result":{"a":1}})"},
    {"null_result", JsonRpcResponse::success(RequestId::number(-3), json::Encoded{"null"}),
     R"({"jsonrpc":"2.0","id":-3,"result":null})"},
    {"error_without_id",
     JsonRpcResponse::failure(std::nullopt,
                              JsonRpcError{kParseError, "Failed to parse request: x"}),
     R"({"jsonrpc":"2.0","error":{"code":-32700,"message":"Failed to parse request: x"}})"},
    {"quoted_text_id",
     JsonRpcResponse::failure(RequestId::text("a\"b"), JsonRpcError{kRequestCancelled, "t\tab"}),
     R"({"jsonrpc":"2.0","id":"a\"b","error":{"code":-32800,"message":"t\tab"}})"},
    {"non_ascii",
     JsonRpcResponse::failure(RequestId::text("\xC3\xA9"),
                              JsonRpcError{kMethodNotFound, "Method not found: \xE2\x82\xAC/"}),
     "{\"jsonrpc\":\"2.0\",\"id\":\"\xC3\xA9\",\"error\":{\"code\":-32601,\"message\":\"Method not "
     "found: \xE2\x82\xAC/\"}}"},
};

TEST(ResponseWrite, Envelopes) {
  for (const auto& c : kResponseCases) {
    EXPECT_EQ(write_response(c.response), c.want) << c.name;
  }
}

}  // namespace
}  // namespace korvane::protocol
