#include <utility>

#include "log/log.h"
#include "package_scanner/package_scanner.h"
#include "protocol/scan_packages.h"
#include "server/server.h"
#include "util/display_text.h"

namespace korvane::server {

namespace {

namespace ps = package_scanner;

ps::ScanConfig scan_config(protocol::ScanPackagesParams&& params) {
  ps::ScanConfig config;
  config.roots = std::move(params.search_roots);
  config.typeshed_stdlib_path = std::move(params.typeshed_stdlib_path);
  config.typeshed_thirdparty_path = std::move(params.typeshed_thirdparty_path);
  config.bundled_stub_path = std::move(params.bundled_stub_path);
  if (params.default_depth_limit) {
    config.default_depth = {params.default_depth_limit->max_depth,
                            params.default_depth_limit->include_all_symbols};
  } else {
    config.default_depth = {1, false};
  }
  for (auto& entry : params.package_depths) {
    // A later entry for the same name replaces the earlier one.
    config.package_depths.insert_or_assign(
        std::move(entry.name), ps::DepthLimit{entry.max_depth, entry.include_all_symbols});
  }
  config.include_third_party = params.include_third_party;
  return config;
}

protocol::ScannedFile scanned_file(ps::ModuleFileInfo&& info) {
  protocol::ScannedFile file;
  file.path = utf8_lossy(info.path);
  file.is_stdlib = info.is_stdlib;
  file.is_typeshed_stub = info.is_typeshed_stub;
  file.is_bundled_stub = info.is_bundled_stub;
  file.package_name = std::move(info.package_name);
  file.py_typed_package = info.py_typed_package;
  file.include_all_symbols = info.include_all_symbols;
  file.is_stub = info.is_stub;
  return file;
}

}  // namespace

// Uses no server state: each request builds, runs and drops its own scanner.
protocol::HandlerResult Server::handle_scan_packages(const json::RawValue& params) {
  auto decoded = protocol::decode_scan_packages_params(json::build(params));
  if (!decoded) {
    return Unexpected(protocol::JsonRpcError{protocol::kInvalidParams,
                                             "Invalid scanPackages params: " + decoded.error()});
  }
  KLOG_INFO(kLogTarget, "Scanning {} search roots", decoded->search_roots.size());
  ps::PackageScanner scanner(scan_config(std::move(*decoded)));
  ps::ScanResult scan = scanner.scan();
  KLOG_INFO(kLogTarget, "Scanned {} packages, found {} files in {}ms", scan.packages_scanned,
            scan.files.size(), scan.elapsed_ms);
  protocol::ScanPackagesResult result;
  result.packages_scanned = scan.packages_scanned;
  result.elapsed_ms = scan.elapsed_ms;
  result.files.reserve(scan.files.size());
  for (auto& info : scan.files) result.files.push_back(scanned_file(std::move(info)));
  return json::Encoded{protocol::to_json_text(result)};
}

}  // namespace korvane::server
