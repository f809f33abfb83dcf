// Records of the lifecycle methods: initialize, ping, shutdown and $/cancelRequest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/record.h"
#include "json/writer.h"
#include "protocol/jsonrpc.h"

namespace korvane::protocol {

inline constexpr std::string_view kServerName = "korvane-indexer";
inline constexpr std::string_view kServerVersion = "0.1.0";
inline constexpr std::string_view kProtocolVersion = "1.0.0";
inline constexpr uint32_t kMaxBatchSize = 1000;  // advertised only

struct CancelParams {
  RequestId id;
};

inline auto json_record(json::RecordTag<CancelParams>) {
  return json::record<CancelParams>("CancelParams", json::required("id", &CancelParams::id));
}

struct ClientInfo {
  std::string name;
  std::optional<std::string> version;
  friend bool operator==(const ClientInfo&, const ClientInfo&) = default;
};

inline auto json_record(json::RecordTag<ClientInfo>) {
  return json::record<ClientInfo>("ClientInfo", json::required("name", &ClientInfo::name),
                                  json::optional("version", &ClientInfo::version));
}

// All false: the server's flags before the first initialize, and an initialize without
// featureFlags. A featureFlags object turns a member it leaves out on, except verbose.
struct FeatureFlags {
  bool verbose = false;
  bool parallel = false;
  bool cross_file_resolution = false;
  friend bool operator==(const FeatureFlags&, const FeatureFlags&) = default;
};

inline auto json_record(json::RecordTag<FeatureFlags>) {
  return json::record<FeatureFlags>(
      "FeatureFlags", json::defaulted("verbose", &FeatureFlags::verbose, false),
      json::defaulted("parallel", &FeatureFlags::parallel, true),
      json::defaulted("crossFileResolution", &FeatureFlags::cross_file_resolution, true));
}

struct InitializeParams {
  std::string protocol_version;
  std::optional<ClientInfo> client_info;  // decoded so a malformed one fails, then unused
  FeatureFlags feature_flags;
};

inline auto json_record(json::RecordTag<InitializeParams>) {
  return json::record<InitializeParams>(
      "InitializeParams", json::required("protocolVersion", &InitializeParams::protocol_version),
      json::optional("clientInfo", &InitializeParams::client_info),
      json::defaulted("featureFlags", &InitializeParams::feature_flags));
}

// {"capabilities":{...},"protocolVersion":"1.0.0","serverInfo":{...}}
json::Encoded encode_initialize_result();
// {"pong":true,"uptimeMs":N}
json::Encoded encode_ping_result(uint64_t uptime_ms);

}  // namespace korvane::protocol
