// The per-file indexing engine and the indexing state that lasts between requests.
//
//   Indexer indexer;
//   indexer.configure_search_paths(config);             // under the server's Indexer mutex
//   protocol::FileIndexResult r = indexer.index_file(file);   // any thread, read-only
//
// Thread-safety: `index_file` and the helpers below only read the Indexer, so a batch may run
// them on many threads at once while the caller holds the Indexer mutex. Configuration changes
// need exclusive access.
//
// The file-name and text skip rules, `determine_symbol_kind`, `convert_symbol` and
// `dedup_symbols` are shared with the cross-file road; keep them free of per-call state.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import_resolver/import_resolver.h"
#include "protocol/index_files.h"
#include "util/result.h"

namespace korvane::indexer {

// LSP SymbolKind numbers the indexer produces.
inline constexpr uint32_t kSymbolKindModule = 2;
inline constexpr uint32_t kSymbolKindClass = 5;
inline constexpr uint32_t kSymbolKindFunction = 12;
inline constexpr uint32_t kSymbolKindVariable = 13;
inline constexpr uint32_t kSymbolKindConstant = 14;
inline constexpr uint32_t kSymbolKindTypeParameter = 26;

inline constexpr std::string_view kLogTarget = "korvane_indexer::indexer";

// The configuration carried from one request to the next; its resolution cache stays empty.
struct SharedImportResolver {
  explicit SharedImportResolver(import_resolver::ImportResolverConfig config)
      : resolver(std::move(config)) {}
  std::mutex mutex;
  import_resolver::ImportResolver resolver;
};

// A name of at least two characters that begins and ends with "__" ("__" itself included).
bool is_dunder_name(std::string_view name);

class Indexer {
 public:
  Indexer() = default;  // no resolver, no Python version

  // Installs the five path lists as the shared resolver's configuration (creating the resolver
  // on first use, emptying its resolution cache) and takes the Python version, absent included.
  void configure_search_paths(const protocol::SearchPathsConfig& config);

  // Bookkeeping of a batch about to be indexed: one TRACE line with the file and package-root
  // counts.
  void set_indexed_files(std::span<const protocol::FileToIndex> files) const;

  const std::shared_ptr<SharedImportResolver>& import_resolver() const { return import_resolver_; }
  const std::optional<protocol::PythonVersionConfig>& python_version() const {
    return python_version_;
  }

  // Skip rule on the last path component: a result for private or protected module names.
  static std::optional<protocol::FileIndexResult> check_should_skip_file(
      const protocol::FileToIndex& file);

  // The whole file through a read-only map, checked as UTF-8. Errors are the texts a client
  // sees: "{} (os error {})" or the UTF-8 texts.
  static Result<std::string> read_file_content(const std::string& path);

  // Skip rule on the text: a plain file that can export nothing in plain mode (it mentions
  // neither "__all__" nor "import *").
  static std::optional<protocol::FileIndexResult> check_fast_path_skip(
      const protocol::FileToIndex& file, std::string_view text);

 private:
  std::shared_ptr<SharedImportResolver> import_resolver_;
  std::optional<protocol::PythonVersionConfig> python_version_;
};

// Number of distinct installed-package roots ("…site-packages/<package>/…", compared after
// Unicode lower-casing) among `files`.
std::size_t count_package_roots(std::span<const protocol::FileToIndex> files);

}  // namespace korvane::indexer
