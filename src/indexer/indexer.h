// The per-file indexing engine and the indexing state that lasts between requests.
//
//   Indexer indexer;
//   indexer.configure_search_paths(config, binder::PythonVersion{3, 12});  // under its mutex
//   FileIndexResult r = indexer.index_file(file);                      // any thread, read-only
//
// Thread-safety: `index_file` and the helpers below only read the Indexer, so a batch may run
// them on many threads at once while the caller holds the Indexer mutex. Configuration changes
// need exclusive access.
//
// The file-name and text skip rules are shared with the cross-file road; keep them free of
// per-call state. The symbol rules of both roads live in symbol_rules.h.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binder/binder.h"
#include "import_resolver/import_resolver.h"
#include "indexer/indexed_file.h"
#include "python/parse_error.h"
#include "util/result.h"

namespace korvane::indexer {

inline constexpr std::string_view kLogTarget = "korvane_indexer::indexer";

// The error of a file whose indexing ran out of memory. It says nothing about the file itself:
// the same file may well fit in a later request, so such a result is never cached.
inline constexpr std::string_view kOutOfMemoryError = "Out of memory while indexing file";

class Indexer {
 public:
  Indexer() = default;  // no search paths, no Python version

  // Replaces the search paths whole and takes the Python version, absent included.
  void configure_search_paths(import_resolver::ImportResolverConfig search_paths,
                              std::optional<binder::PythonVersion> python_version);

  // The search paths of the last configuration: empty until the first.
  const import_resolver::ImportResolverConfig& search_paths() const { return search_paths_; }
  const std::optional<binder::PythonVersion>& python_version() const { return python_version_; }

  // Indexes one file: a file that cannot be read or parsed yields its error text, and one that
  // runs out of memory kOutOfMemoryError. Throws std::bad_alloc only when even that small
  // result cannot be allocated.
  FileIndexResult index_file(const FileToIndex& file) const;

  // `index_file` over a batch, one result per file in the batch's order; over the worker pool
  // when `parallel` is set, else one after another on this thread. A file that runs out of
  // memory on the pool is indexed once more on this thread after the others, and answered
  // kOutOfMemoryError only when it runs out again.
  std::vector<FileIndexResult> index_batch(std::span<const FileToIndex> files, bool parallel) const;

  // Parses, binds and converts `text`; the error is the rendering of the first syntax error
  // (already logged), for "Parse error: {}".
  Result<std::vector<IndexedSymbol>> extract_symbols(const FileToIndex& file,
                                                     std::string_view text) const;

  // What the binder is told about `file`, with this Indexer's Python version.
  binder::FileInfo file_info_for(const FileToIndex& file) const;

  // "[ParseError { error: K, location: a..b }]".
  static std::string render_parse_error(const python::ParseError& error);

  // Skip rule on the last path component: a result for private or protected module names.
  static std::optional<FileIndexResult> check_should_skip_file(const FileToIndex& file);

  // Skip rule on the text: a plain file that can export nothing in plain mode (it mentions
  // neither "__all__" nor "import *").
  static std::optional<FileIndexResult> check_fast_path_skip(const FileToIndex& file,
                                                             std::string_view text);

 private:
  FileIndexResult index_file_unguarded(const FileToIndex& file) const;

  import_resolver::ImportResolverConfig search_paths_;
  std::optional<binder::PythonVersion> python_version_;
};

// The result of a file that ran out of memory (logged at WARN).
FileIndexResult out_of_memory_result(const FileToIndex& file);

// Whether a result's error is kOutOfMemoryError.
bool ran_out_of_memory(const std::optional<std::string>& error);

// What the binder is told about `file` bound under `module_name`.
binder::FileInfo file_info(const FileToIndex& file, std::string module_name,
                           std::optional<binder::PythonVersion> python_version);

// One TRACE line about a batch about to be indexed: its file and package-root counts.
void log_batch_summary(std::span<const FileToIndex> files);

// Number of distinct installed-package roots ("…site-packages/<package>/…", compared after
// Unicode lower-casing) among `files`.
std::size_t count_package_roots(std::span<const FileToIndex> files);

}  // namespace korvane::indexer
