// The dispatcher: the one state record of the process and the handling of every message.
//
//   Server server;
//   Transport transport(STDIN_FILENO, STDOUT_FILENO);
//   auto run = transport.loop(server);
//   if (!run) KLOG_ERROR("korvane_indexer", "Server error: {}", run.error().long_form());
//
// Thread-safety: every member runs on the main thread, one message at a time. The state is
// private and reached only through its Guarded mutex or its atomic, so a handler may hand a
// reference to the worker pool while the main thread waits.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <absl/container/flat_hash_set.h>

#include "indexer/indexer.h"
#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"
#include "protocol/jsonrpc.h"
#include "protocol/lifecycle.h"
#include "server/fatal_error.h"
#include "server/result_cache.h"
#include "server/transport.h"
#include "util/growth_safe_table.h"
#include "util/guarded.h"
#include "util/memory_release.h"
#include "util/result.h"

namespace korvane::server {

class Server final : public MessageHandler {
 public:
  // `trim_limits` decides when freed memory goes back to the system; tests make it eager.
  explicit Server(TrimPolicy::Limits trim_limits = {});
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Answers one message through `transport`, then says whether the run goes on: it ends after
  // any message that leaves the server uninitialized once a message has been counted, so the
  // reply to shutdown, or to anything before a successful initialize, is the last one. Running
  // out of memory while decoding, handling or encoding a request answers it with
  // kOutOfMemoryMessage; a notification that runs out is dropped.
  Result<Flow, FatalError> on_message(std::string_view body, Transport& transport) override;
  // A body too large to hold: answered like a request that ran out of memory before it decoded.
  Result<Flow, FatalError> on_body_out_of_memory(Transport& transport) override;

  // One message body in, at most one response out (none for a notification). Every problem
  // becomes an error response or is dropped, except running out of memory: std::bad_alloc,
  // which on_message answers.
  std::optional<protocol::JsonRpcResponse> handle_message(std::string_view body);

  bool initialized() const { return initialized_.load(); }
  // Messages that decoded as requests or notifications.
  uint64_t message_count() const { return message_count_.load(); }
  protocol::FeatureFlags feature_flags() const;
  // Cancelled ids whose request has not arrived yet.
  std::size_t pending_cancellations() const;
  // Whole milliseconds of the monotonic clock since the server was built.
  uint64_t uptime_ms() const;
  // Times freed memory was given back to the system so far.
  std::size_t memory_trims() const { return trim_policy_.trims(); }

 private:
  // The reply to send should memory run out before the message is answered, made while memory
  // is plentiful so that sending it allocates nothing.
  struct Fallback {
    // What the message is, once decoded: a notification has nothing to send. Until then, and
    // for a body that never decoded, a request.
    MessageKind kind = MessageKind::kRequest;
    std::string reply;  // the error with the request's id; empty before it is known
  };

  std::optional<protocol::JsonRpcResponse> handle_message(std::string_view body,
                                                          Fallback& fallback);
  Result<void, FatalError> answer(std::string_view body, Fallback& fallback, Transport& transport,
                                  std::size_t& reply_bytes);
  Result<void, FatalError> answer_out_of_memory(const Fallback& fallback, Transport& transport);
  // The end of every message: the trim policy's turn (`message_bytes` in and out), then the end
  // test.
  Result<Flow, FatalError> next_flow(MessageKind kind, std::size_t message_bytes);
  void handle_notification(const protocol::JsonRpcRequest& request);
  protocol::HandlerResult handle_request(const protocol::JsonRpcRequest& request);
  // The handlers that read params build them from the checked text the request keeps.
  protocol::HandlerResult handle_initialize(const json::RawValue& params);
  json::Encoded handle_shutdown();
  // Each defined in its own file (index_files_handler.cpp, scan_packages_handler.cpp).
  protocol::HandlerResult handle_index_files(const json::RawValue& params);
  protocol::HandlerResult handle_scan_packages(const json::RawValue& params);

  // State, in declared order. start_time_ is taken before any other field is built.
  const std::chrono::steady_clock::time_point start_time_;
  Guarded<protocol::FeatureFlags> feature_flags_;  // all false until the first initialize
  Guarded<GrowthSafe<absl::flat_hash_set<std::string>>> cancelled_requests_;  // string forms
  std::atomic<uint64_t> message_count_{0};
  // The indexFiles state: the indexer is held through a whole batch; the cache has its own lock.
  Guarded<indexer::Indexer> indexer_;
  IndexCache cache_;
  std::atomic<bool> initialized_{false};
  const std::string undecoded_out_of_memory_reply_;  // the error without an id
  // When to give freed memory back: decided after each message on this thread, and within a
  // cross-file batch where it frees what the pool parsed, on whichever thread freed it.
  TrimPolicy trim_policy_;
};

inline constexpr std::string_view kOutOfMemoryMessage = "Internal error: out of memory";

// Whole milliseconds of a monotonic duration, rounded down.
uint64_t whole_milliseconds(std::chrono::steady_clock::duration elapsed);

}  // namespace korvane::server
