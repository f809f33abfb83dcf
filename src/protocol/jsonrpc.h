// The JSON-RPC 2.0 envelope: requests decoded from a message body, responses written back.
//
//   auto request = protocol::decode_request(body);
//   if (!request) return error_response(std::nullopt, {kParseError, "..." + request.error()});
//   ...
//   std::string text = protocol::write_response(response);
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "json/reader.h"
#include "json/record.h"
#include "json/value.h"
#include "json/writer.h"
#include "util/result.h"

namespace korvane::protocol {

// A request id: a signed 64-bit integer or a text. Its string form (a decimal integer or the
// text itself) identifies it in the cancelled set, so 5 and "5" are one id there.
class RequestId {
 public:
  RequestId() = default;
  static RequestId number(int64_t n) { return RequestId(n); }
  static RequestId text(std::string s) { return RequestId(std::move(s)); }

  bool is_number() const { return std::holds_alternative<int64_t>(id_); }
  std::string to_string() const;

  friend bool operator==(const RequestId&, const RequestId&) = default;
  friend void write_json(json::Writer& w, const RequestId& id);

 private:
  explicit RequestId(int64_t n) : id_(n) {}
  explicit RequestId(std::string s) : id_(std::move(s)) {}
  std::variant<int64_t, std::string> id_;
};

// An integer within the signed 64-bit range or a string; nothing else.
Result<void> json_decode(const json::Value& v, RequestId& out);

struct JsonRpcRequest {
  std::string jsonrpc;          // required to be a text, never compared
  std::optional<RequestId> id;  // none (absent or null): a notification
  std::string method;
  // Checked as JSON but not built, since most methods never read it: its tree would take many
  // times its text. Views the body the request was decoded from. Empty when absent.
  json::RawValue params;
};

inline auto json_record(json::RecordTag<JsonRpcRequest>) {
  return json::record<JsonRpcRequest>(
      "JsonRpcRequest", json::required("jsonrpc", &JsonRpcRequest::jsonrpc),
      json::optional("id", &JsonRpcRequest::id), json::required("method", &JsonRpcRequest::method),
      json::defaulted("params", &JsonRpcRequest::params));
}

// A message body as a request; the error text carries its line and column. The request views
// `body`, which must outlive it.
Result<JsonRpcRequest> decode_request(std::string_view body);

inline constexpr int32_t kParseError = -32700;
inline constexpr int32_t kInvalidRequest = -32600;
inline constexpr int32_t kMethodNotFound = -32601;
inline constexpr int32_t kInvalidParams = -32602;
inline constexpr int32_t kInternalError = -32603;
inline constexpr int32_t kRequestCancelled = -32800;

struct JsonRpcError {
  int32_t code = 0;
  std::string message;
  friend bool operator==(const JsonRpcError&, const JsonRpcError&) = default;
};

// What a method handler answers: the encoded result, or the error to send.
using HandlerResult = Result<json::Encoded, JsonRpcError>;

struct JsonRpcResponse {
  std::optional<RequestId> id;          // none only for a body that did not decode
  std::optional<json::Encoded> result;  // exactly one of result and error is set
  std::optional<JsonRpcError> error;

  static JsonRpcResponse success(std::optional<RequestId> id, json::Encoded result);
  static JsonRpcResponse failure(std::optional<RequestId> id, JsonRpcError error);
};

// The text of a response as three pieces written one after another: the result's own text sits
// in the middle uncopied, since a large indexFiles result would otherwise be held twice.
struct ResponsePieces {
  std::string head;         // from the opening brace up to the result (or to the error)
  std::string_view result;  // the result's text, owned by the response; empty for an error
  std::string tail;         // the error member, if any, and the closing brace
};
// Compact text with the members in the order jsonrpc, id, result, error. The pieces point into
// `response`, which must outlive them.
ResponsePieces write_response_pieces(const JsonRpcResponse& response);
std::string write_response(const JsonRpcResponse& response);

}  // namespace korvane::protocol
