// Throughput of the message path a client feels on every request: decoding an indexFiles
// envelope with its params, and writing a large result.
#include <benchmark/benchmark.h>

#include <string>

#include "json/reader.h"
#include "protocol/index_files.h"
#include "protocol/jsonrpc.h"

namespace korvane {
namespace {

std::string index_files_body(int files) {
  std::string body = R"({"jsonrpc":"2.0","id":7,"method":"indexFiles","params":{"files":[)";
  for (int i = 0; i < files; ++i) {
    if (i > 0) body += ',';
    body += R"({"path":"/home/user/project/src/package_)" + std::to_string(i % 50) + "/module_" +
            std::to_string(i) +
            R"(.py","moduleName":"package.module","includeAllSymbols":false,"isStub":false,)"
            R"("isPyTyped":true,"mtime":1733550000.123,"size":)" +
            std::to_string(1000 + i) + "}";
  }
  return body + R"(],"searchPaths":{"extraPaths":[],"workspaceRoots":["/home/user/project"]}}})";
}

void BM_DecodeIndexFilesRequest(benchmark::State& state) {
  const std::string body = index_files_body(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto request = protocol::decode_request(body);
    auto params = protocol::decode_index_files_params(json::build(request->params));
    benchmark::DoNotOptimize(params);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_DecodeIndexFilesRequest)->Arg(1000)->Arg(10000);

// A method that never reads its params still has them checked, but should not pay for a tree.
void BM_DecodeUnreadParams(benchmark::State& state) {
  const std::string batch = index_files_body(static_cast<int>(state.range(0)));
  const std::string body =
      R"({"jsonrpc":"2.0","id":7,"method":"ping",)" + batch.substr(batch.find(R"("params":)"));
  for (auto _ : state) {
    auto request = protocol::decode_request(body);
    benchmark::DoNotOptimize(request);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_DecodeUnreadParams)->Arg(10000);

void BM_WriteIndexFilesResult(benchmark::State& state) {
  protocol::IndexFilesResult result;
  const int files = static_cast<int>(state.range(0));
  for (int f = 0; f < files; ++f) {
    protocol::FileIndexResult file;
    file.path = "/home/user/project/src/module_" + std::to_string(f) + ".py";
    for (int s = 0; s < 50; ++s) {
      protocol::IndexedSymbol symbol;
      symbol.name = "symbol_name_" + std::to_string(s);
      symbol.kind = 12;
      symbol.visibility_flags = 1;
      if (s % 5 == 0) symbol.alias = protocol::SymbolAlias{"original", "os.path", 12};
      file.symbols.push_back(std::move(symbol));
    }
    result.results.push_back(std::move(file));
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = protocol::write_response(protocol::JsonRpcResponse::success(
        protocol::RequestId::number(7), {protocol::to_json_text(result)}));
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["symbols"] = files * 50.0;
}
BENCHMARK(BM_WriteIndexFilesResult)->Arg(200)->Arg(2000);

}  // namespace
}  // namespace korvane
