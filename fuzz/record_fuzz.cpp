// Parameter records decoded from a JSON value, as every handler does with `params`.
//
// Invariants: decoding never crashes or reads out of range whatever the value holds, and its
// error texts carry no position (only envelope errors do).
#include <string>

#include "fuzz_support.h"
#include "json/reader.h"
#include "protocol/index_files.h"
#include "protocol/jsonrpc.h"
#include "protocol/lifecycle.h"
#include "protocol/scan_packages.h"

using namespace korvane;

namespace {

template <class T>
void check_error(const Result<T>& r) {
  if (r) return;
  FUZZ_CHECK(!r.error().empty(), "empty decoding error");
  // The text may quote a string value, which may hold anything; only a suffix is a position.
  FUZZ_CHECK(!fuzz::ends_with_position(r.error()), "value-level error with position");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto value = json::parse(fuzz::as_text(data, size));
  if (!value) return 0;
  check_error(protocol::decode_index_files_params(*value));
  check_error(protocol::decode_scan_packages_params(*value));
  check_error(json::decode<protocol::InitializeParams>(*value));
  check_error(json::decode<protocol::CancelParams>(*value));
  check_error(json::decode<protocol::FeatureFlags>(*value));
  // Ids are decoded on their own path too: the cancelled set keys on their string form.
  if (auto id = json::decode<protocol::RequestId>(*value)) {
    FUZZ_CHECK(!id->to_string().empty() || !id->is_number(), "number id with empty text");
  }
  return 0;
}
