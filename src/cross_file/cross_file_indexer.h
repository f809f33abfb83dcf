// Cross-file mode of indexFiles: the batch driver and its per-file step, which follow names
// bound only by imports and star imports into the modules that define them.
//
//   std::vector<indexer::FileIndexResult> results =
//       cross_file::index_batch(indexer, files, /*parallel=*/true);
//
// Thread-safety: the batch's module tables are built over the worker pool when `parallel` is
// set; everything else runs on the calling thread, which holds the Indexer for the whole batch.
#pragma once

#include <span>
#include <vector>

#include "cross_file/cross_file_resolver.h"
#include "cross_file/parse_cache.h"
#include "indexer/indexed_file.h"
#include "indexer/indexer.h"

namespace korvane::cross_file {

// One result per file in batch order. Builds a parse cache and a resolver over the Indexer's
// search paths and Python version that live for this call only. `on_freed` hears where the
// batch drops parses, and once more when its tables and parses are gone: a parallel batch's
// parses were made on the pool's threads, and what they leave free there is of no use to the
// rest of the batch, which allocates on the calling thread. It is called on the calling thread,
// and on the pool's threads where a parallel table build runs out of memory and drops its parse,
// so it must be safe from any thread.
std::vector<indexer::FileIndexResult> index_batch(const indexer::Indexer& indexer,
                                                  std::span<const indexer::FileToIndex> files,
                                                  bool parallel, MemoryFreed on_freed = {});

// One file of a batch, parsed through the request's cache. Grows the resolver's tables and
// memo, so it runs on one thread. A file that runs out of memory, in its own parse or in an
// import it follows, is answered with indexer::kOutOfMemoryError and its parse dropped.
indexer::FileIndexResult index_file(const indexer::Indexer& indexer,
                                    const indexer::FileToIndex& file, CrossFileResolver& resolver,
                                    ParseCache& parse_cache);

}  // namespace korvane::cross_file
