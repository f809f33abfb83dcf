#include "server/server.h"

namespace korvane::server {

// Not served yet: package scanning lands with its own handler; until then the method is
// unknown.
protocol::HandlerResult Server::handle_scan_packages(const json::Value& /*params*/) {
  return Unexpected(
      protocol::JsonRpcError{protocol::kMethodNotFound, "Method not found: scanPackages"});
}

}  // namespace korvane::server
