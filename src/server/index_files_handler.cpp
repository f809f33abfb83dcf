#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "indexer/cache.h"
#include "indexer/indexer.h"
#include "indexer/worker_pool.h"
#include "log/log.h"
#include "protocol/index_files.h"
#include "server/server.h"

namespace korvane::server {

namespace {

using protocol::FileIndexResult;
using protocol::FileToIndex;

// The files the cache could not serve, with their places in the request.
struct Pending {
  std::vector<FileToIndex> files;
  std::vector<std::size_t> positions;
};

// A large reply is most of the work left after a parallel batch; its results are encoded on
// the pool too, each into its own piece. Each result is dropped as soon as its piece is written
// and the pieces once joined, so freeing a few hundred thousand names and pieces is spread over
// the pool as well instead of following the batch on one thread.
std::string encode(protocol::IndexFilesResult& result, bool parallel) {
  if (!parallel || result.results.size() < 2) return protocol::to_json_text(result);
  std::vector<std::string> pieces(result.results.size());
  worker_pool::parallel_for_each_index(pieces.size(), [&](std::size_t i) {
    // Roughly what a symbol and a file take, so most pieces are allocated once.
    pieces[i].reserve(96 + result.results[i].symbols.size() * 64);
    protocol::append_json(pieces[i], result.results[i]);
    result.results[i] = FileIndexResult{};
  });
  std::string text = protocol::to_json_text(result, pieces);
  worker_pool::parallel_for_each_index(pieces.size(),
                                       [&](std::size_t i) { std::string().swap(pieces[i]); });
  return text;
}

}  // namespace

protocol::HandlerResult Server::handle_index_files(const json::Value& params) {
  auto decoded = protocol::decode_index_files_params(params);
  if (!decoded) {
    return Unexpected(protocol::JsonRpcError{protocol::kInvalidParams,
                                             "Invalid indexFiles params: " + decoded.error()});
  }
  protocol::IndexFilesParams request = std::move(*decoded);
  const auto start = std::chrono::steady_clock::now();
  // Plain locals, not a structured binding: clang 14 cannot capture those in a lambda.
  const protocol::FeatureFlags flags = feature_flags();
  const bool parallel = flags.parallel;
  const bool cross_file = flags.cross_file_resolution;
  KLOG_INFO(kLogTarget, "Indexing {} files (parallel: {}, cross_file_resolution: {})",
            request.files.size(), parallel, cross_file);

  indexer_.with([&](indexer::Indexer& ix) {
    if (request.search_paths) ix.configure_search_paths(*request.search_paths);
  });

  // Each result lands in its request slot, so no sorting is needed afterwards.
  std::vector<std::optional<FileIndexResult>> slots(request.files.size());
  uint32_t cache_hits = 0;
  Pending pending;
  for (std::size_t i = 0; i < request.files.size(); ++i) {
    if (auto key = indexer::CacheKey::from_file(request.files[i])) {
      if (auto hit = cache_.get(*key)) {
        slots[i] = std::move(*hit);
        ++cache_hits;
        continue;
      }
    }
    pending.files.push_back(std::move(request.files[i]));
    pending.positions.push_back(i);
  }

  if (!pending.files.empty()) {
    indexer_.with([&](indexer::Indexer& ix) {
      std::vector<FileIndexResult> results;
      if (cross_file) {
        results = ix.index_files_with_cross_file_resolution(pending.files, parallel);
      } else {
        ix.set_indexed_files(pending.files);
        results = ix.index_batch(pending.files, parallel);
      }
      for (std::size_t k = 0; k < results.size(); ++k) {
        if (auto key = indexer::CacheKey::from_file(pending.files[k])) {
          cache_.insert(std::move(*key), results[k]);
        }
        slots[pending.positions[k]] = std::move(results[k]);
      }
    });
  }

  protocol::IndexFilesResult result;
  result.results.reserve(slots.size());
  for (auto& slot : slots) result.results.push_back(std::move(*slot));
  result.elapsed_ms = whole_milliseconds(std::chrono::steady_clock::now() - start);
  result.cache_hits = cache_hits;
  KLOG_INFO(kLogTarget, "Indexed {} files in {}ms ({} cache hits, {} indexed)",
            result.results.size(), result.elapsed_ms, cache_hits,
            result.results.size() - cache_hits);
  return json::Encoded{encode(result, parallel)};
}

}  // namespace korvane::server
