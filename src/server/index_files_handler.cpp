#include <chrono>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cross_file/cross_file_indexer.h"
#include "indexer/indexer.h"
#include "log/log.h"
#include "protocol/index_files.h"
#include "server/index_files_records.h"
#include "server/result_cache.h"
#include "server/server.h"
#include "util/worker_pool.h"

namespace korvane::server {

namespace {

using protocol::FileIndexResult;

// The files the cache could not serve, with their places in the request, and the cache keys of
// those that carry one (by their index in `files`).
struct Pending {
  std::vector<indexer::FileToIndex> files;
  std::vector<std::size_t> positions;
  std::vector<std::pair<std::size_t, CacheKey>> keys;
};

// Serves what the cache holds into `slots`; the rest is translated for the indexer.
Pending serve_from_cache(const IndexCache& cache, std::vector<protocol::FileToIndex>& files,
                         std::vector<std::optional<FileIndexResult>>& slots) {
  Pending pending;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::optional<CacheKey> key = CacheKey::from_file(files[i]);
    if (key) {
      if (auto hit = cache.get(*key)) {
        slots[i] = std::move(*hit);
        continue;
      }
    }
    if (key) pending.keys.emplace_back(pending.files.size(), std::move(*key));
    pending.files.push_back(file_to_index(std::move(files[i])));
    pending.positions.push_back(i);
  }
  return pending;
}

std::vector<indexer::FileIndexResult> index_pending(const indexer::Indexer& ix,
                                                    const Pending& pending, bool parallel,
                                                    bool cross_file, const MemoryFreed& on_freed) {
  if (cross_file) return cross_file::index_batch(ix, pending.files, parallel, on_freed);
  indexer::log_batch_summary(pending.files);
  return ix.index_batch(pending.files, parallel);
}

// Each result's wire form into its request slot, on the pool for a parallel batch: taking a few
// hundred thousand symbols apart costs milliseconds on one thread. Each result is freed as it
// is taken apart, so the two forms of the batch are never held whole at once.
void store_replies(std::vector<indexer::FileIndexResult> results, const Pending& pending,
                   std::vector<std::optional<FileIndexResult>>& slots, bool parallel) {
  const auto one = [&](std::size_t k) {
    slots[pending.positions[k]] = to_protocol(std::move(results[k]));
  };
  if (parallel) {
    worker_pool::parallel_for_each_index(results.size(), one);
  } else {
    for (std::size_t k = 0; k < results.size(); ++k) one(k);
  }
}

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

protocol::HandlerResult Server::handle_index_files(const json::RawValue& params) {
  auto decoded = protocol::decode_index_files_params(json::build(params));
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
    if (!request.search_paths) return;
    ix.configure_search_paths(search_roots(*request.search_paths),
                              python_version(*request.search_paths));
  });

  // Each result lands in its request slot, so no sorting is needed afterwards.
  std::vector<std::optional<FileIndexResult>> slots(request.files.size());
  Pending pending = serve_from_cache(cache_, request.files, slots);
  const auto cache_hits = static_cast<uint32_t>(slots.size() - pending.files.size());

  if (!pending.files.empty()) {
    // A cross-file batch tells the trim policy where it frees what its pool threads parsed.
    const MemoryFreed on_freed = [this](std::size_t bytes) { trim_policy_.after_freeing(bytes); };
    indexer_.with([&](indexer::Indexer& ix) {
      store_replies(index_pending(ix, pending, parallel, cross_file, on_freed), pending, slots,
                    parallel);
      for (auto& [k, key] : pending.keys) {
        const FileIndexResult& indexed = *slots[pending.positions[k]];
        // Memory that ran short says nothing about the file: a later request tries again.
        if (indexer::ran_out_of_memory(indexed.error)) continue;
        try {
          cache_.insert(std::move(key), indexed);
        } catch (const std::bad_alloc&) {
          // Only the next request's speed depends on it; this one's results are complete.
          KLOG_WARN(kLogTarget, "Out of memory while caching the result of {}", indexed.path);
        }
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
