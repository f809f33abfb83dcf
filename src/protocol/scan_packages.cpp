#include "protocol/scan_packages.h"

#include "json/record.h"
#include "json/writer.h"

namespace korvane::protocol {

// Decoding tables, found by argument-dependent lookup. Only `searchRoots` is required of the
// parameters, also in the array form; both depth records require every member.

inline auto json_record(json::RecordTag<DepthLimitConfig>) {
  using D = DepthLimitConfig;
  return json::record<D>("DepthLimitConfig", json::required("maxDepth", &D::max_depth),
                         json::required("includeAllSymbols", &D::include_all_symbols));
}

inline auto json_record(json::RecordTag<PackageDepthConfig>) {
  using P = PackageDepthConfig;
  return json::record<P>("PackageDepthConfig", json::required("name", &P::name),
                         json::required("maxDepth", &P::max_depth),
                         json::required("includeAllSymbols", &P::include_all_symbols));
}

inline auto json_record(json::RecordTag<ScanPackagesParams>) {
  using S = ScanPackagesParams;
  return json::record<S>("ScanPackagesParams", json::required("searchRoots", &S::search_roots),
                         json::defaulted("typeshedStdlibPath", &S::typeshed_stdlib_path),
                         json::defaulted("typeshedThirdpartyPath", &S::typeshed_thirdparty_path),
                         json::defaulted("bundledStubPath", &S::bundled_stub_path),
                         json::defaulted("defaultDepthLimit", &S::default_depth_limit),
                         json::defaulted("packageDepths", &S::package_depths),
                         json::defaulted("includeThirdParty", &S::include_third_party, true));
}

Result<ScanPackagesParams> decode_scan_packages_params(const json::Value& params) {
  return json::decode<ScanPackagesParams>(params);
}

// Members are written in ascending byte order of their names, which is the wire order.

void write_json(json::Writer& w, const ScannedFile& file) {
  w.begin_object();
  w.key("includeAllSymbols");
  w.boolean(file.include_all_symbols);
  w.key("isBundledStub");
  w.boolean(file.is_bundled_stub);
  w.key("isStdlib");
  w.boolean(file.is_stdlib);
  w.key("isStub");
  w.boolean(file.is_stub);
  w.key("isTypeshedStub");
  w.boolean(file.is_typeshed_stub);
  if (file.package_name) {
    w.key("packageName");
    w.string(*file.package_name);
  }
  w.key("path");
  w.string(file.path);
  w.key("pyTypedPackage");
  w.boolean(file.py_typed_package);
  w.end_object();
}

void write_json(json::Writer& w, const ScanPackagesResult& result) {
  w.begin_object();
  w.key("elapsedMs");
  w.u64(result.elapsed_ms);
  w.key("files");
  w.begin_array();
  for (const auto& file : result.files) write_json(w, file);
  w.end_array();
  w.key("packagesScanned");
  w.u64(result.packages_scanned);
  w.end_object();
}

std::string to_json_text(const ScanPackagesResult& result) {
  std::string out;
  // About 160 bytes per file: one allocation for most scans.
  std::size_t bytes = 64;
  for (const auto& file : result.files) {
    bytes += 150 + file.path.size() + (file.package_name ? file.package_name->size() + 16 : 0);
  }
  out.reserve(bytes);
  json::Writer w(out);
  write_json(w, result);
  return out;
}

}  // namespace korvane::protocol
