// Package scanning over real trees: files listed per second, the number a client waits on when
// it asks for the module files of its environment.
//
//   build/release/bench/scan_bench [--benchmark_filter=Stdlib]
//   KORVANE_SCAN_BENCH_ROOT=/some/site-packages build/release/bench/scan_bench
//
// The first iteration warms the kernel's directory cache, so the numbers are those of a scan
// that repeats one the system has already made, as an editor's repeated requests do.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "package_scanner/package_scanner.h"

namespace {

using korvane::package_scanner::kUnlimitedDepth;
using korvane::package_scanner::PackageScanner;
using korvane::package_scanner::ScanConfig;

constexpr const char* kDistPackages = "/usr/lib/python3/dist-packages";
constexpr const char* kStdlib = "/usr/lib/python3.11";

bool is_dir(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void run(benchmark::State& state, const ScanConfig& config) {
  for (const auto& root : config.roots) {
    if (!is_dir(root)) {
      state.SkipWithError(("missing " + root).c_str());
      return;
    }
  }
  uint64_t files = 0;
  uint64_t packages = 0;
  for (auto _ : state) {
    PackageScanner scanner(config);
    auto result = scanner.scan();
    files += result.files.size();
    packages += result.packages_scanned;
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(static_cast<int64_t>(files));
  state.counters["files"] = static_cast<double>(files) / static_cast<double>(state.iterations());
  state.counters["packages"] =
      static_cast<double>(packages) / static_cast<double>(state.iterations());
  state.counters["files/s"] =
      benchmark::Counter(static_cast<double>(files), benchmark::Counter::kIsRate);
}

ScanConfig config_for(std::string root, uint32_t depth) {
  ScanConfig config;
  config.roots = {std::move(root)};
  config.default_depth = {depth, false};
  return config;
}

// What a client asks for by default: the top directory of each package.
void BM_DistPackagesDefaultDepth(benchmark::State& state) {
  run(state, config_for(kDistPackages, 1));
}

// Every module file of every package, all levels.
void BM_DistPackagesUnlimited(benchmark::State& state) {
  run(state, config_for(kDistPackages, kUnlimitedDepth));
}

// A standard-library root: unlimited depth and the excluded modules.
void BM_StdlibTree(benchmark::State& state) {
  ScanConfig config = config_for(kStdlib, 1);
  config.typeshed_stdlib_path = kStdlib;
  run(state, config);
}

// The third-party stub packages (the "-stubs" directories) as a typeshed root.
void BM_TypeshedThirdParty(benchmark::State& state) {
  ScanConfig config = config_for(kDistPackages, kUnlimitedDepth);
  config.typeshed_thirdparty_path = kDistPackages;
  run(state, config);
}

void BM_ChosenRoot(benchmark::State& state) {
  const char* root = std::getenv("KORVANE_SCAN_BENCH_ROOT");
  if (root == nullptr) {
    state.SkipWithError("KORVANE_SCAN_BENCH_ROOT not set");
    return;
  }
  run(state, config_for(root, kUnlimitedDepth));
}

BENCHMARK(BM_DistPackagesDefaultDepth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DistPackagesUnlimited)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdlibTree)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TypeshedThirdParty)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChosenRoot)->Unit(benchmark::kMillisecond);

}  // namespace
