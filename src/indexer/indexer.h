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
// The file-name and text skip rules, `determine_symbol_kind`, `convert_declared_symbol` and
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

#include "binder/binder.h"
#include "import_resolver/import_resolver.h"
#include "protocol/index_files.h"
#include "python/parse_error.h"
#include "util/result.h"

namespace korvane::cross_file {
class CrossFileResolver;
class ParseCache;
}  // namespace korvane::cross_file

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

  // Indexes one file: never fails, a file that cannot be read or parsed yields its error text.
  protocol::FileIndexResult index_file(const protocol::FileToIndex& file) const;

  // `index_file` over a batch, one result per file in the batch's order; over the worker pool
  // when `parallel` is set, else one after another on this thread.
  std::vector<protocol::FileIndexResult> index_batch(std::span<const protocol::FileToIndex> files,
                                                     bool parallel) const;

  // Parses, binds and converts `text`; the error is the rendering of the first syntax error
  // (already logged), for "Parse error: {}".
  Result<std::vector<protocol::IndexedSymbol>> extract_and_build_result(
      const protocol::FileToIndex& file, std::string_view text) const;

  // What the binder is told about `file`, with this Indexer's Python version.
  binder::FileInfo file_info_for(const protocol::FileToIndex& file) const;

  // The exported symbols of a bound module, in the scope's own (unspecified) order: dunder
  // names outside `__all__` and names bound only by imports are left out, the rest go through
  // `convert_declared_symbol`.
  static std::vector<protocol::IndexedSymbol> convert_symbols(const binder::Scope& scope,
                                                              const protocol::FileToIndex& file);

  // Admission, visibility, kind and alias of one symbol that has a declaration other than an
  // import; none when the file's flags do not admit it. A stub or py.typed file exports every
  // name not hidden; any other file only `__all__` names, or everything when all symbols are
  // asked for.
  static std::optional<protocol::IndexedSymbol> convert_declared_symbol(
      std::string_view name, const binder::Symbol& symbol, const protocol::FileToIndex& file);

  // The first declaration decides; variables are constants when marked so or when the name is
  // ASCII upper case ("MAX_2", "_CACHE").
  static uint32_t determine_symbol_kind(std::string_view name,
                                        std::span<const binder::Declaration> declarations);

  // Drops every symbol whose name an earlier one already has, keeping the order of the rest.
  static void dedup_symbols(std::vector<protocol::IndexedSymbol>& symbols);

  // "[ParseError { error: K, location: a..b }]".
  static std::string render_parse_error(const python::ParseError& error);

  // Skip rule on the last path component: a result for private or protected module names.
  static std::optional<protocol::FileIndexResult> check_should_skip_file(
      const protocol::FileToIndex& file);

  // The whole file, checked as UTF-8. Errors are the texts a client
  // sees: "{} (os error {})" or the UTF-8 texts.
  static Result<std::string> read_file_content(const std::string& path);
  // The same into `buffer`, which it grows as needed and never shrinks: the text is its first
  // bytes, valid until the buffer is next written.
  static Result<std::string_view> read_file_text(const std::string& path, std::string& buffer);

  // Skip rule on the text: a plain file that can export nothing in plain mode (it mentions
  // neither "__all__" nor "import *").
  static std::optional<protocol::FileIndexResult> check_fast_path_skip(
      const protocol::FileToIndex& file, std::string_view text);

  // Cross-file mode (defined in korvane_cross_file): one result per file in batch order, with
  // import-only names and star imports followed to their definitions over the search paths.
  std::vector<protocol::FileIndexResult> index_files_with_cross_file_resolution(
      std::span<const protocol::FileToIndex> files, bool parallel) const;

  // One file of a cross-file batch, parsed through the request's cache; grows the resolver's
  // tables and memo, so it runs on one thread.
  protocol::FileIndexResult index_file_with_resolver_mut_cached(
      const protocol::FileToIndex& file, cross_file::CrossFileResolver& resolver,
      const std::shared_ptr<cross_file::ParseCache>& parse_cache) const;

 private:
  std::shared_ptr<SharedImportResolver> import_resolver_;
  std::optional<protocol::PythonVersionConfig> python_version_;
};

// Number of distinct installed-package roots ("…site-packages/<package>/…", compared after
// Unicode lower-casing) among `files`.
std::size_t count_package_roots(std::span<const protocol::FileToIndex> files);

}  // namespace korvane::indexer
