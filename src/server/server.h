// The one state record of the process, the message loop and the dispatcher.
//
//   Server server;
//   auto run = server.process_messages(STDIN_FILENO, STDOUT_FILENO);
//   if (!run) KLOG_ERROR("korvane_indexer", "Server error: {}", run.error().long_form());
//
// Thread-safety: everything here runs on the main thread, one message at a time. Fields are
// reached only through their Guarded mutex or their atomic, so a handler may hand a
// reference to the worker pool while the main thread waits.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <absl/container/flat_hash_set.h>

#include "indexer/indexer.h"
#include "json/value.h"
#include "json/writer.h"
#include "protocol/jsonrpc.h"
#include "protocol/lifecycle.h"
#include "server/fatal_error.h"
#include "server/result_cache.h"
#include "util/guarded.h"
#include "util/result.h"

namespace korvane::server {

inline constexpr std::string_view kLogTarget = "korvane_indexer::server";

class Server {
 public:
  Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Reads framed messages from `input_fd` and writes framed responses to `output_fd` until
  // the end of input or the end of the run; any failure of framing or I/O is returned.
  Result<void, FatalError> process_messages(int input_fd, int output_fd);

  // One message body in, at most one response out (none for a notification). Never fails:
  // every problem becomes an error response or is dropped.
  std::optional<protocol::JsonRpcResponse> handle_message(std::string_view body);

  void handle_notification(const protocol::JsonRpcRequest& request);
  protocol::HandlerResult handle_initialize(const json::Value& params);
  json::Encoded handle_shutdown();
  json::Encoded ping() const;
  // Each defined in its own file (index_files_handler.cpp, scan_packages_handler.cpp).
  protocol::HandlerResult handle_index_files(const json::Value& params);
  protocol::HandlerResult handle_scan_packages(const json::Value& params);

  // Whole milliseconds of the monotonic clock since the server was built.
  uint64_t uptime_ms() const;

  // State, in declared order. start_time is taken before any other field is built.
  const std::chrono::steady_clock::time_point start_time;
  Guarded<protocol::FeatureFlags> feature_flags;  // all false until the first initialize
  Guarded<absl::flat_hash_set<std::string>> cancelled_requests;  // ids in their string form
  std::atomic<uint64_t> message_count{0};  // messages that decoded as requests or notifications
  // The indexFiles state: the indexer is held through a whole batch; the cache has its own lock.
  Guarded<indexer::Indexer> indexer;
  IndexCache cache;
  std::atomic<bool> initialized{false};
};

// Whole milliseconds of a monotonic duration, rounded down.
uint64_t whole_milliseconds(std::chrono::steady_clock::duration elapsed);

}  // namespace korvane::server
