#include "protocol/lifecycle.h"

namespace korvane::protocol {

json::Encoded encode_initialize_result() {
  json::Encoded out;
  json::Writer w(out.text);
  w.begin_object();
  w.key("capabilities");
  w.begin_object();
  w.key("maxBatchSize");
  w.u64(kMaxBatchSize);
  w.key("supportsBatchIndexing");
  w.boolean(true);
  w.key("supportsCancellation");
  w.boolean(true);
  w.end_object();
  w.key("protocolVersion");
  w.string(kProtocolVersion);
  w.key("serverInfo");
  w.begin_object();
  w.key("name");
  w.string(kServerName);
  w.key("version");
  w.string(kServerVersion);
  w.end_object();
  w.end_object();
  return out;
}

json::Encoded encode_ping_result(uint64_t uptime_ms) {
  json::Encoded out;
  json::Writer w(out.text);
  w.begin_object();
  w.key("pong");
  w.boolean(true);
  w.key("uptimeMs");
  w.u64(uptime_ms);
  w.end_object();
  return out;
}

}  // namespace korvane::protocol
