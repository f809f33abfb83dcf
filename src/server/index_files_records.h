// Translation between the indexFiles wire records and the indexer's own records, so that the
// indexer knows nothing of the protocol.
//
//   indexer.configure_search_paths(search_roots(*params.search_paths),
//                                  python_version(*params.search_paths));
//   indexer::FileIndexResult found = indexer.index_file(file_to_index(params.files[0]));
//   protocol::FileIndexResult reply = to_protocol(std::move(found));
#pragma once

#include <optional>

#include "binder/static_expressions.h"
#include "import_resolver/import_resolver.h"
#include "indexer/indexed_file.h"
#include "protocol/index_files.h"

namespace korvane::server {

// The five path members as the resolver's search roots, each text a path unchanged.
import_resolver::ImportResolverConfig search_roots(const protocol::SearchPathsConfig& config);

std::optional<binder::PythonVersion> python_version(const protocol::SearchPathsConfig& config);

// What the indexer reads of a requested file (not the cache's mtime and size).
indexer::FileToIndex file_to_index(protocol::FileToIndex&& file);

// The wire form of a result, taken apart symbol by symbol and freed as it goes (`cached` stays
// absent).
protocol::FileIndexResult to_protocol(indexer::FileIndexResult result);

}  // namespace korvane::server
