#include "protocol/jsonrpc.h"

#include <limits>

namespace korvane::protocol {

std::string RequestId::to_string() const {
  if (const auto* n = std::get_if<int64_t>(&id_)) return std::to_string(*n);
  return std::get<std::string>(id_);
}

void write_json(json::Writer& w, const RequestId& id) {
  if (const auto* n = std::get_if<int64_t>(&id.id_)) {
    w.i64(*n);
  } else {
    w.string(std::get<std::string>(id.id_));
  }
}

Result<void> json_decode(const json::Value& v, RequestId& out) {
  if (const json::Number* n = v.if_number()) {
    if (n->kind() == json::Number::Kind::I64) {
      out = RequestId::number(n->i64_value());
      return {};
    }
    if (n->kind() == json::Number::Kind::U64 &&
        n->u64_value() <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      out = RequestId::number(static_cast<int64_t>(n->u64_value()));
      return {};
    }
  } else if (const std::string* s = v.if_string()) {
    out = RequestId::text(*s);
    return {};
  }
  return Unexpected(std::string("data did not match any variant of untagged enum RequestId"));
}

Result<JsonRpcRequest> decode_request(std::string_view body) {
  return json::decode_text<JsonRpcRequest>(body);
}

JsonRpcResponse JsonRpcResponse::success(std::optional<RequestId> id, json::Encoded result) {
  return JsonRpcResponse{std::move(id), std::move(result), std::nullopt};
}

JsonRpcResponse JsonRpcResponse::failure(std::optional<RequestId> id, JsonRpcError error) {
  return JsonRpcResponse{std::move(id), std::nullopt, std::move(error)};
}

ResponsePieces write_response_pieces(const JsonRpcResponse& response) {
  ResponsePieces pieces;
  std::string& out = pieces.head;
  out.append(R"({"jsonrpc":"2.0")");
  // The envelope keeps its declared order, so it is written by hand rather than as a sorted
  // object.
  if (response.id) {
    out.append(R"(,"id":)");
    json::Writer id_writer(out);
    write_json(id_writer, *response.id);
  }
  if (response.result) {
    out.append(R"(,"result":)");
    pieces.result = response.result->text;
  }
  if (response.error) {
    pieces.tail.append(R"(,"error":{"code":)");
    pieces.tail.append(std::to_string(response.error->code));
    pieces.tail.append(R"(,"message":)");
    json::append_quoted(pieces.tail, response.error->message);
    pieces.tail.push_back('}');
  }
  pieces.tail.push_back('}');
  return pieces;
}

std::string write_response(const JsonRpcResponse& response) {
  const ResponsePieces pieces = write_response_pieces(response);
  std::string out;
  out.reserve(pieces.head.size() + pieces.result.size() + pieces.tail.size());
  out.append(pieces.head).append(pieces.result).append(pieces.tail);
  return out;
}

}  // namespace korvane::protocol
