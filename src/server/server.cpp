#include "server/server.h"

#include <new>
#include <utility>

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

namespace {

std::string out_of_memory_reply(std::optional<protocol::RequestId> id) {
  return protocol::write_response(JsonRpcResponse::failure(
      std::move(id), JsonRpcError{protocol::kInternalError, std::string(kOutOfMemoryMessage)}));
}

}  // namespace

Server::Server(TrimPolicy::Limits trim_limits)
    : start_time_(std::chrono::steady_clock::now()),
      undecoded_out_of_memory_reply_(out_of_memory_reply(std::nullopt)),
      trim_policy_(trim_limits) {}

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
  Fallback fallback;
  std::size_t reply_bytes = 0;
  Result<void, FatalError> sent;
  try {
    sent = answer(body, fallback, transport, reply_bytes);
  } catch (const std::bad_alloc&) {
    // Unwinding has freed the request and whatever of its reply was made.
    sent = answer_out_of_memory(fallback, transport);
  }
  if (!sent) return Unexpected(std::move(sent).error());
  return next_flow(fallback.kind, body.size() + reply_bytes);
}

Result<Flow, FatalError> Server::on_body_out_of_memory(Transport& transport) {
  KLOG_ERROR(kLogTarget, "Out of memory while reading a message; its body was skipped");
  if (auto sent = answer_out_of_memory(Fallback{}, transport); !sent) {
    return Unexpected(std::move(sent).error());
  }
  // Whatever came before, this was a request that did not decode.
  return next_flow(MessageKind::kRequest, 0);
}

Result<void, FatalError> Server::answer(std::string_view body, Fallback& fallback,
                                        Transport& transport, std::size_t& reply_bytes) {
  std::optional<JsonRpcResponse> response = handle_message(body, fallback);
  if (!response) return {};
  const protocol::ResponsePieces text = protocol::write_response_pieces(*response);
  reply_bytes = text.head.size() + text.result.size() + text.tail.size();
  return transport.send(text.head, text.result, text.tail);
}

Result<void, FatalError> Server::answer_out_of_memory(const Fallback& fallback,
                                                      Transport& transport) {
  if (fallback.kind == MessageKind::kNotification) {
    KLOG_ERROR(kLogTarget, "Out of memory while handling a notification; it is dropped");
    return {};
  }
  KLOG_ERROR(kLogTarget, "Out of memory while answering a message; it gets an internal error");
  return transport.send(fallback.reply.empty() ? undecoded_out_of_memory_reply_ : fallback.reply);
}

Result<Flow, FatalError> Server::next_flow(MessageKind kind, std::size_t message_bytes) {
  // From here on the message is done and its reply, if any, written: work that must follow
  // every answered request goes here, before the end test.
  // The server idles most of its life: what a large request freed goes back to the system now.
  trim_policy_.after_message(kind, message_bytes);
  if (!initialized() && message_count() > 0) {
    KLOG_INFO(kLogTarget, "Shutdown complete, exiting");
    return Flow::kStop;
  }
  return Flow::kContinue;
}

std::optional<JsonRpcResponse> Server::handle_message(std::string_view body) {
  Fallback unused;
  return handle_message(body, unused);
}

std::optional<JsonRpcResponse> Server::handle_message(std::string_view body, Fallback& fallback) {
  auto decoded = protocol::decode_request(body);
  if (!decoded) {
    KLOG_ERROR(kLogTarget, "Failed to parse JSON-RPC request: {}", decoded.error());
    return JsonRpcResponse::failure(
        std::nullopt,
        JsonRpcError{protocol::kParseError, "Failed to parse request: " + decoded.error()});
  }
  message_count_.fetch_add(1);
  const JsonRpcRequest& request = *decoded;
  fallback.kind = !request.id                ? MessageKind::kNotification
                  : request.method == "ping" ? MessageKind::kPing
                                             : MessageKind::kRequest;
  if (!request.id) {
    handle_notification(request);
    return std::nullopt;
  }

  fallback.reply = out_of_memory_reply(request.id);
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
