#include "server/server.h"

#include "log/log.h"
#include "util/memory_release.h"

namespace korvane::server {

using protocol::JsonRpcError;
using protocol::JsonRpcRequest;
using protocol::JsonRpcResponse;

uint64_t whole_milliseconds(std::chrono::steady_clock::duration elapsed) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

Server::Server() : start_time_(std::chrono::steady_clock::now()) {}

uint64_t Server::uptime_ms() const {
  return whole_milliseconds(std::chrono::steady_clock::now() - start_time_);
}

protocol::FeatureFlags Server::feature_flags() const {
  return feature_flags_.with([](const protocol::FeatureFlags& flags) { return flags; });
}

std::size_t Server::pending_cancellations() const {
  return cancelled_requests_.with([](const auto& ids) { return ids.size(); });
}

Result<Flow, FatalError> Server::on_message(std::string_view body, Transport& transport) {
  last_kind_ = MessageKind::kRequest;
  std::size_t reply_bytes = 0;
  if (auto response = handle_message(body)) {
    const protocol::ResponsePieces text = protocol::write_response_pieces(*response);
    if (auto sent = transport.send(text.head, text.result, text.tail); !sent) {
      return Unexpected(std::move(sent).error());
    }
    reply_bytes = text.head.size() + text.result.size() + text.tail.size();
  }
  // From here on the message is done and its reply, if any, written: work that must follow
  // every answered request goes here, before the end test.
  // The server idles most of its life: what a large request freed goes back to the system now.
  trim_policy_.after_message(last_kind_, body.size() + reply_bytes);
  if (!initialized() && message_count() > 0) {
    KLOG_INFO(kLogTarget, "Shutdown complete, exiting");
    return Flow::kStop;
  }
  return Flow::kContinue;
}

std::optional<JsonRpcResponse> Server::handle_message(std::string_view body) {
  auto decoded = protocol::decode_request(body);
  if (!decoded) {
    KLOG_ERROR(kLogTarget, "Failed to parse JSON-RPC request: {}", decoded.error());
    return JsonRpcResponse::failure(
        std::nullopt,
        JsonRpcError{protocol::kParseError, "Failed to parse request: " + decoded.error()});
  }
  message_count_.fetch_add(1);
  const JsonRpcRequest& request = *decoded;
  last_kind_ = !request.id                ? MessageKind::kNotification
               : request.method == "ping" ? MessageKind::kPing
                                          : MessageKind::kRequest;
  if (!request.id) {
    handle_notification(request);
    return std::nullopt;
  }

  const std::string key = request.id->to_string();
  const bool cancelled = cancelled_requests_.with([&](auto& ids) { return ids.erase(key) > 0; });
  if (cancelled) {
    return JsonRpcResponse::failure(
        request.id, JsonRpcError{protocol::kRequestCancelled, "Request was cancelled"});
  }
  protocol::HandlerResult result = handle_request(request);
  if (!result) return JsonRpcResponse::failure(request.id, std::move(result).error());
  return JsonRpcResponse::success(request.id, std::move(*result));
}

protocol::HandlerResult Server::handle_request(const JsonRpcRequest& request) {
  const std::string& method = request.method;
  if (method == "initialize") return handle_initialize(request.params);
  if (method == "indexFiles" || method == "scanPackages") {
    if (!initialized()) {
      return Unexpected(JsonRpcError{protocol::kInvalidRequest, "Server not initialized"});
    }
    return method == "indexFiles" ? handle_index_files(request.params)
                                  : handle_scan_packages(request.params);
  }
  if (method == "ping") return protocol::encode_ping_result(uptime_ms());
  if (method == "shutdown") return handle_shutdown();
  return Unexpected(JsonRpcError{protocol::kMethodNotFound, "Method not found: " + method});
}

void Server::handle_notification(const JsonRpcRequest& request) {
  if (request.method != "$/cancelRequest") {
    KLOG_WARN(kLogTarget, "Unknown notification method: {}", request.method);
    return;
  }
  // A malformed cancellation is dropped without a trace.
  auto params = json::decode<protocol::CancelParams>(json::build(request.params));
  if (!params) return;
  std::string key = params->id.to_string();
  KLOG_INFO(kLogTarget, "Cancellation requested for: {}", key);
  cancelled_requests_.with([&](auto& ids) { ids.insert(std::move(key)); });
}

protocol::HandlerResult Server::handle_initialize(const json::RawValue& params) {
  auto decoded = json::decode<protocol::InitializeParams>(json::build(params));
  if (!decoded) {
    return Unexpected(
        JsonRpcError{protocol::kInvalidParams, "Invalid initialize params: " + decoded.error()});
  }
  KLOG_INFO(kLogTarget, "Initializing server with protocol version: {}", decoded->protocol_version);
  feature_flags_.with([&](auto& flags) { flags = decoded->feature_flags; });
  initialized_.store(true);
  return protocol::encode_initialize_result();
}

json::Encoded Server::handle_shutdown() {
  KLOG_INFO(kLogTarget, "Shutdown requested");
  initialized_.store(false);
  return json::Encoded{"null"};
}

}  // namespace korvane::server
