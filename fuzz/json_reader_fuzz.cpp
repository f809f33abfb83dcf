// JSON text as a client sends it: the generic reader and the request envelope.
//
// Invariants: every error carries its line and column; checking a value without building it
// accepts and refuses what building accepts and refuses, with the same error; whatever the reader
// accepts is written back as UTF-8 text that reads as the same value and writes back unchanged;
// an accepted request yields a response that is itself valid JSON.
#include <string>

#include "fuzz_support.h"
#include "json/reader.h"
#include "json/writer.h"
#include "protocol/jsonrpc.h"
#include "util/utf8.h"

using namespace korvane;

namespace {

void check_value_round_trip(std::string_view text) {
  auto value = json::parse(text);
  json::Cursor checker(text);
  auto checked = checker.check_value(0);
  const Result<void> check_end =
      checked ? checker.end_of_text() : Result<void>(Unexpected(checked.error()));
  FUZZ_CHECK(check_end.has_value() == value.has_value(), "checking and parsing disagree");
  if (!value) {
    FUZZ_CHECK(check_end.error() == value.error(), "checking and parsing report other errors");
    FUZZ_CHECK(fuzz::ends_with_position(value.error()), "reader error without position");
    return;
  }
  const std::string written = json::write(*value);
  // Escapes must never decode to bytes a client cannot read, such as a lone surrogate.
  if (!validate_utf8(text)) FUZZ_CHECK(!validate_utf8(written), "written value is not UTF-8");
  auto again = json::parse(written);
  FUZZ_CHECK(again.has_value(), "written value does not read back");
  FUZZ_CHECK(*again == *value, "written value reads back as another value");
  FUZZ_CHECK(json::write(*again) == written, "writing is not stable");
}

void check_envelope(std::string_view text) {
  auto request = protocol::decode_request(text);
  if (!request) {
    FUZZ_CHECK(fuzz::ends_with_position(request.error()), "envelope error without position");
    return;
  }
  // The dispatcher echoes the id and may put the params back into a result.
  const std::string response = protocol::write_response(protocol::JsonRpcResponse::success(
      request->id, json::Encoded{json::write(json::build(request->params))}));
  auto parsed = json::parse(response);
  FUZZ_CHECK(parsed.has_value(), "response is not JSON");
  const json::Value* version = parsed->find("jsonrpc");
  FUZZ_CHECK(version != nullptr && version->if_string() && *version->if_string() == "2.0",
             "response without jsonrpc 2.0");
  FUZZ_CHECK((parsed->find("id") != nullptr) == request->id.has_value(), "id not echoed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  check_value_round_trip(text);
  check_envelope(text);
  return 0;
}
