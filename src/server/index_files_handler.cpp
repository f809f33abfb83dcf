#include "server/server.h"

namespace korvane::server {

// Not served yet: indexing lands with its own handler; until then the method is unknown.
protocol::HandlerResult Server::handle_index_files(const json::Value& /*params*/) {
  return Unexpected(
      protocol::JsonRpcError{protocol::kMethodNotFound, "Method not found: indexFiles"});
}

}  // namespace korvane::server
