// Parameter and result records of the `scanPackages` method.
//
//   auto params = protocol::decode_scan_packages_params(json::build(request.params));
//   if (!params) return invalid_params("Invalid scanPackages params: " + params.error());
//   ...
//   std::string reply = protocol::to_json_text(ScanPackagesResult{...});
//
// Decoding follows the shared record rules (object or array form, unknown members ignored,
// the exact error texts a client sees); result records are only ever encoded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/value.h"
#include "util/result.h"

namespace korvane::json {
class Writer;
}

namespace korvane::protocol {

struct DepthLimitConfig {
  uint32_t max_depth = 0;  // package directory = level 1; 0 lists nothing
  bool include_all_symbols = false;
  friend bool operator==(const DepthLimitConfig&, const DepthLimitConfig&) = default;
};

struct PackageDepthConfig {
  std::string name;  // a directory directly in a search root, matched exactly
  uint32_t max_depth = 0;
  bool include_all_symbols = false;
  friend bool operator==(const PackageDepthConfig&, const PackageDepthConfig&) = default;
};

struct ScanPackagesParams {
  std::vector<std::string> search_roots;  // taken as paths unchanged
  std::optional<std::string> typeshed_stdlib_path;
  std::optional<std::string> typeshed_thirdparty_path;
  std::optional<std::string> bundled_stub_path;
  std::optional<DepthLimitConfig> default_depth_limit;
  std::vector<PackageDepthConfig> package_depths;  // a later entry for a name wins
  bool include_third_party = true;
  friend bool operator==(const ScanPackagesParams&, const ScanPackagesParams&) = default;
};

struct ScannedFile {
  std::string path;  // text: invalid UTF-8 of the file-system path already replaced
  bool is_stdlib = false;
  bool is_typeshed_stub = false;
  bool is_bundled_stub = false;
  std::optional<std::string> package_name;  // left out of the JSON when absent
  bool py_typed_package = false;
  bool include_all_symbols = false;
  bool is_stub = false;
  friend bool operator==(const ScannedFile&, const ScannedFile&) = default;
};

struct ScanPackagesResult {
  std::vector<ScannedFile> files;  // in the order found
  uint32_t packages_scanned = 0;
  uint64_t elapsed_ms = 0;
};

// Decoding from a request's `params` value; the error is the text a client sees inside
// "Invalid scanPackages params: {}".
Result<ScanPackagesParams> decode_scan_packages_params(const json::Value& params);

// Compact JSON with members in the wire order (ascending names), absent members left out.
void write_json(json::Writer& w, const ScannedFile& file);
void write_json(json::Writer& w, const ScanPackagesResult& result);
std::string to_json_text(const ScanPackagesResult& result);

}  // namespace korvane::protocol
