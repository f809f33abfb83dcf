#include "indexer/indexer.h"

#include <chrono>
#include <cstring>
#include <new>
#include <utility>

#include <absl/container/flat_hash_set.h>

#include "indexer/symbol_rules.h"
#include "log/log.h"
#include "python/parser.h"
#include "util/file_text.h"
#include "util/growth_safe_table.h"
#include "util/profiling.h"
#include "util/thread_kept.h"
#include "util/unicode_text.h"
#include "util/worker_pool.h"

namespace korvane::indexer {

namespace {

// The last component of a '/'-separated path, ignoring trailing separators and "." components;
// empty when the path has no file name (empty, a root, ".", or ending in "..").
std::string_view last_path_component(std::string_view path) {
  while (!path.empty()) {
    const auto slash = path.find_last_of('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (last.empty() || last == ".") {
      if (slash == std::string_view::npos) return {};
      path = path.substr(0, slash);
      continue;
    }
    return last == ".." ? std::string_view{} : last;
  }
  return {};
}

// The text before the last '.', unless that would be empty (".hidden" is its own stem).
std::string_view file_stem(std::string_view name) {
  const auto dot = name.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0) return name;
  return name.substr(0, dot);
}

FileIndexResult empty_result(const FileToIndex& file) {
  FileIndexResult result;
  result.path = file.path;
  return result;
}

std::size_t utf8_char_width(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  return lead >= 0xC0 ? 2 : 1;
}

std::optional<std::string> package_root(std::string_view path) {
  static constexpr std::string_view kMarker = "site-packages";
  std::string lower = unicode_lowercase(path);
  const auto at = lower.find(kMarker);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t after = at + kMarker.size();
  std::size_t begin = after;
  while (begin < lower.size() && (lower[begin] == '/' || lower[begin] == '\\')) ++begin;
  const auto end = lower.find_first_of("/\\", begin);
  if (end == std::string::npos) return std::nullopt;
  const std::size_t width = utf8_char_width(static_cast<unsigned char>(lower[after]));
  std::string root = lower.substr(0, after + width);
  root.append(lower, begin, end - begin);
  for (char& c : root) {
    if (c == '/') c = '\\';
  }
  return root;
}

// glibc's memmem beats a first-byte scan here: "_" and "i" are everywhere in Python code.
bool contains(std::string_view text, std::string_view needle) {
  return ::memmem(text.data(), text.size(), needle.data(), needle.size()) != nullptr;
}

// The same for "import *" in one pass of memchr, many times faster than memmem: a '*' is rare
// in Python code, so few of them need a look at the bytes before.
bool contains_star_import(std::string_view text) {
  static constexpr std::string_view kHead = "import ";
  if (text.size() <= kHead.size()) return false;
  const char* end = text.data() + text.size();
  for (const char* at = text.data() + kHead.size(); at < end; ++at) {
    at = static_cast<const char*>(std::memchr(at, '*', static_cast<std::size_t>(end - at)));
    if (at == nullptr) return false;
    if (std::memcmp(at - kHead.size(), kHead.data(), kHead.size()) == 0) return true;
  }
  return false;
}

// Each pool thread keeps the buffer of its last file for the next one. The server lives as long
// as the editor, so one that grew past this (all but a few modules are smaller) is handed back
// to the system after its file rather than held by every thread between batches.
constexpr std::size_t kKeptReadBuffer = std::size_t{256} << 10;

ThreadKept<std::string>& read_buffers() {
  static ThreadKept<std::string> buffers;
  return buffers;
}

}  // namespace

std::size_t count_package_roots(std::span<const FileToIndex> files) {
  GrowthSafe<absl::flat_hash_set<std::string>> roots;
  for (const auto& file : files) {
    if (auto root = package_root(file.path)) roots.insert(std::move(*root));
  }
  return roots.size();
}

void Indexer::configure_search_paths(import_resolver::ImportResolverConfig search_paths,
                                     std::optional<binder::PythonVersion> python_version) {
  search_paths_ = std::move(search_paths);
  python_version_ = python_version;
}

void log_batch_summary(std::span<const FileToIndex> files) {
  // Lower-casing every path is not free: count only when the line will be written.
  if (!log::enabled(log::Level::Trace, kLogTarget)) return;
  KLOG_TRACE(kLogTarget, "set_indexed_files: {} files, {} package roots", files.size(),
             count_package_roots(files));
}

std::optional<FileIndexResult> Indexer::check_should_skip_file(const FileToIndex& file) {
  profiling::TimingGuard timer("file_name_check");
  const std::string_view stem = file_stem(last_path_component(file.path));
  if (!binder::is_private_name(stem)) return std::nullopt;
  KLOG_DEBUG(kLogTarget, "Skipping private/protected file: {}", file.path);
  FileIndexResult result = empty_result(file);
  result.private_or_protected = true;
  return result;
}

std::optional<FileIndexResult> Indexer::check_fast_path_skip(const FileToIndex& file,
                                                             std::string_view text) {
  profiling::TimingGuard timer("__all__check");
  if (file.is_stub || file.is_py_typed || file.include_all_symbols) return std::nullopt;
  if (contains(text, "__all__") || contains_star_import(text)) return std::nullopt;
  KLOG_DEBUG(kLogTarget, "Skipping file without __all__ or wildcard imports: {}", file.path);
  return empty_result(file);
}

FileIndexResult out_of_memory_result(const FileToIndex& file) {
  KLOG_WARN(kLogTarget, "Out of memory while indexing file {}", file.path);
  FileIndexResult failed = empty_result(file);
  failed.error = std::string(kOutOfMemoryError);
  return failed;
}

bool ran_out_of_memory(const std::optional<std::string>& error) {
  return error && *error == kOutOfMemoryError;
}

FileIndexResult Indexer::index_file(const FileToIndex& file) const {
  // Unwinding frees whatever the file held (its text, tree and tables), so the small result
  // below fits again. Should even that fail, the exception goes on to fail the whole request.
  try {
    return index_file_unguarded(file);
  } catch (const std::bad_alloc&) {
    return out_of_memory_result(file);
  }
}

FileIndexResult Indexer::index_file_unguarded(const FileToIndex& file) const {
  profiling::TimingGuard timer("index_file_total");
  KLOG_DEBUG(kLogTarget, "Indexing file: {} (is_stub={}, is_py_typed={}, include_all_symbols={})",
             file.path, file.is_stub, file.is_py_typed, file.include_all_symbols);
  if (auto skipped = check_should_skip_file(file)) return std::move(*skipped);

  const auto read_start = std::chrono::steady_clock::now();
  std::string own;
  std::string* kept = read_buffers().get();
  std::string& buffer = kept != nullptr ? *kept : own;
  struct TrimBuffer {
    std::string& buffer;
    ~TrimBuffer() {
      if (buffer.size() > kKeptReadBuffer) std::string().swap(buffer);
    }
  } trim{buffer};
  auto text = read_file_text(file.path, buffer);
  if (!text) {
    KLOG_WARN(kLogTarget, "Failed to read file {}: {}", file.path, text.error());
    FileIndexResult failed = empty_result(file);
    failed.error = "Failed to read file: " + text.error();
    return failed;
  }
  profiling::record_timing("file_read", std::chrono::steady_clock::now() - read_start);

  if (auto skipped = check_fast_path_skip(file, *text)) return std::move(*skipped);

  Result<std::vector<IndexedSymbol>> symbols = [&] {
    profiling::TimingGuard extract_timer("extract_symbols_binder_total");
    return extract_symbols(file, *text);
  }();
  if (!symbols) {
    FileIndexResult failed = empty_result(file);
    failed.error = "Parse error: " + symbols.error();
    return failed;
  }
  dedup_symbols(*symbols);
  KLOG_DEBUG(kLogTarget, "Found {} symbols in {} (after dedup)", symbols->size(), file.path);
  FileIndexResult result = empty_result(file);
  result.symbols = std::move(*symbols);
  return result;
}

std::vector<FileIndexResult> Indexer::index_batch(std::span<const FileToIndex> files,
                                                  bool parallel) const {
  std::vector<FileIndexResult> results(files.size());
  if (parallel) {
    // A file that ran out of memory beside the others' is answered so only if it does again on
    // its own.
    std::vector<char> out_of_memory(files.size(), 0);
    const worker_pool::Workers workers =
        worker_pool::parallel_for_each_index_retrying(files.size(), [&](std::size_t i) {
          try {
            results[i] = index_file_unguarded(files[i]);
            out_of_memory[i] = 0;
          } catch (const std::bad_alloc&) {
            out_of_memory[i] = 1;
          }
          return !out_of_memory[i];
        });
    if (auto shortfall = worker_pool::shortfall_text(workers)) {
      KLOG_WARN(kLogTarget, "{}", *shortfall);
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (out_of_memory[i]) results[i] = out_of_memory_result(files[i]);
    }
  } else {
    for (std::size_t i = 0; i < files.size(); ++i) results[i] = index_file(files[i]);
  }
  return results;
}

Result<std::vector<IndexedSymbol>> Indexer::extract_symbols(const FileToIndex& file,
                                                            std::string_view text) const {
  // Each statement is bound as soon as it is parsed and its tree dropped: a module's tree, many
  // times the size of its text, never exists whole.
  const auto parse_start = std::chrono::steady_clock::now();
  binder::Binder binder(file_info_for(file));
  binder.begin_module();
  auto parsed = python::parse_module_statements(
      text, python::ParseDepth::Outline,
      [&binder](const python::Stmt& stmt) { binder.bind_top_level_statement(stmt); });
  if (!parsed) {
    std::string rendering = render_parse_error(parsed.error());
    KLOG_WARN(kLogTarget, "Failed to parse file {}: {}", file.path, rendering);
    return Unexpected(std::move(rendering));
  }
  profiling::record_timing("parse", std::chrono::steady_clock::now() - parse_start);

  binder::BinderResult bound = [&] {
    profiling::TimingGuard bind_timer("bind_module");
    return std::move(binder).finish_module();
  }();
  profiling::TimingGuard convert_timer("convert_symbols");
  return convert_symbols(bound.module_scope, file, /*follow=*/nullptr);
}

binder::FileInfo file_info(const FileToIndex& file, std::string module_name,
                           std::optional<binder::PythonVersion> python_version) {
  return binder::FileInfo{std::move(module_name), file.is_stub, file.is_py_typed, python_version};
}

binder::FileInfo Indexer::file_info_for(const FileToIndex& file) const {
  return file_info(file, file.module_name.value_or(std::string()), python_version_);
}

std::string Indexer::render_parse_error(const python::ParseError& error) {
  return fmt::format("[ParseError {{ error: {}, location: {}..{} }}]", error.kind_text(),
                     error.range.start, error.range.end);
}

}  // namespace korvane::indexer
