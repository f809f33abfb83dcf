#include "server/server.h"

#include "log/log.h"

namespace korvane::server {

using protocol::JsonRpcError;
using protocol::JsonRpcRequest;
using protocol::JsonRpcResponse;

uint64_t whole_milliseconds(std::chrono::steady_clock::duration elapsed) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

Server::Server() : start_time(std::chrono::steady_clock::now()) {}

uint64_t Server::uptime_ms() const {
  return whole_milliseconds(std::chrono::steady_clock::now() - start_time);
}

std::optional<JsonRpcResponse> Server::handle_message(std::string_view body) {
  auto decoded = protocol::decode_request(body);
  if (!decoded) {
    KLOG_ERROR(kLogTarget, "Failed to parse JSON-RPC request: {}", decoded.error());
    return JsonRpcResponse::failure(
        std::nullopt,
        JsonRpcError{protocol::kParseError, "Failed to parse request: " + decoded.error()});
  }
  message_count.fetch_add(1);
  const JsonRpcRequest& request = *decoded;
  if (!request.id) {
    handle_notification(request);
    return std::nullopt;
  }

  const std::string key = request.id->to_string();
  const bool cancelled = cancelled_requests.with([&](auto& ids) { return ids.erase(key) > 0; });
  if (cancelled) {
    return JsonRpcResponse::failure(
        request.id, JsonRpcError{protocol::kRequestCancelled, "Request was cancelled"});
  }

  protocol::HandlerResult result = [&]() -> protocol::HandlerResult {
    const std::string& method = request.method;
    if (method == "initialize") return handle_initialize(request.params);
    if (method == "indexFiles" || method == "scanPackages") {
      if (!initialized.load()) {
        return Unexpected(JsonRpcError{protocol::kInvalidRequest, "Server not initialized"});
      }
      return method == "indexFiles" ? handle_index_files(request.params)
                                    : handle_scan_packages(request.params);
    }
    if (method == "ping") return ping();
    if (method == "shutdown") return handle_shutdown();
    return Unexpected(JsonRpcError{protocol::kMethodNotFound, "Method not found: " + method});
  }();
  if (!result) return JsonRpcResponse::failure(request.id, std::move(result).error());
  return JsonRpcResponse::success(request.id, std::move(*result));
}

void Server::handle_notification(const JsonRpcRequest& request) {
  if (request.method != "$/cancelRequest") {
    KLOG_WARN(kLogTarget, "Unknown notification method: {}", request.method);
    return;
  }
  // A malformed cancellation is dropped without a trace.
  auto params = json::decode<protocol::CancelParams>(request.params);
  if (!params) return;
  std::string key = params->id.to_string();
  KLOG_INFO(kLogTarget, "Cancellation requested for: {}", key);
  cancelled_requests.with([&](auto& ids) { ids.insert(std::move(key)); });
}

protocol::HandlerResult Server::handle_initialize(const json::Value& params) {
  auto decoded = json::decode<protocol::InitializeParams>(params);
  if (!decoded) {
    return Unexpected(
        JsonRpcError{protocol::kInvalidParams, "Invalid initialize params: " + decoded.error()});
  }
  KLOG_INFO(kLogTarget, "Initializing server with protocol version: {}", decoded->protocol_version);
  feature_flags.with([&](auto& flags) { flags = decoded->feature_flags; });
  initialized.store(true);
  return protocol::encode_initialize_result();
}

json::Encoded Server::handle_shutdown() {
  KLOG_INFO(kLogTarget, "Shutdown requested");
  initialized.store(false);
  return json::Encoded{"null"};
}

json::Encoded Server::ping() const { return protocol::encode_ping_result(uptime_ms()); }

}  // namespace korvane::server
