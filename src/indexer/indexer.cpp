#include "indexer/indexer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include <absl/container/flat_hash_set.h>

#include "indexer/profiling.h"
#include "indexer/worker_pool.h"
#include "log/log.h"
#include "python/parser.h"
#include "util/os_error.h"
#include "util/unicode_text.h"
#include "util/utf8.h"

namespace korvane::indexer {

using protocol::FileIndexResult;
using protocol::FileToIndex;
using protocol::IndexedSymbol;

bool is_dunder_name(std::string_view name) {
  return name.size() >= 2 && name.starts_with("__") && name.ends_with("__");
}

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

Result<std::string_view> checked_text(std::string_view text) {
  if (auto bad = validate_utf8(text)) return Unexpected(bad->message());
  return text;
}

// Regular files are read straight into the caller's buffer. A memory map per file would
// serialise parallel batches on the process's address-space lock (every map and unmap takes it
// for writing), and a file truncated by an editor while mapped would kill the process with
// SIGBUS; a read just comes back short. The buffer only grows: a thread that reads file after
// file into it zero-fills and faults in fresh pages only for the largest one.
Result<std::string_view> read_regular_file(int fd, std::size_t size, std::string& buffer) {
  if (buffer.size() < size) buffer.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, buffer.data() + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Unexpected(os_error_text(errno));
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return checked_text(std::string_view(buffer.data(), done));
}

// Each pool thread keeps the buffer of its last file for the next one. The server lives as long
// as the editor, so one that grew past this (all but a few modules are smaller) is handed back
// to the system after its file rather than held by every thread between batches.
constexpr std::size_t kKeptReadBuffer = std::size_t{256} << 10;

// Closes the descriptor and unmaps on every path out of read_file_content.
struct MappedFile {
  int fd = -1;
  void* data = MAP_FAILED;
  std::size_t length = 0;
  ~MappedFile() {
    if (data != MAP_FAILED) ::munmap(data, length);
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::size_t count_package_roots(std::span<const FileToIndex> files) {
  absl::flat_hash_set<std::string> roots;
  for (const auto& file : files) {
    if (auto root = package_root(file.path)) roots.insert(std::move(*root));
  }
  return roots.size();
}

void Indexer::configure_search_paths(const protocol::SearchPathsConfig& config) {
  import_resolver::ImportResolverConfig resolver_config;
  const auto to_paths = [](const std::vector<std::string>& texts) {
    return std::vector<std::filesystem::path>(texts.begin(), texts.end());
  };
  resolver_config.extra_paths = to_paths(config.extra_paths);
  resolver_config.workspace_roots = to_paths(config.workspace_roots);
  if (config.typeshed_stdlib_path)
    resolver_config.typeshed_stdlib_path = *config.typeshed_stdlib_path;
  if (config.typeshed_thirdparty_path) {
    resolver_config.typeshed_thirdparty_path = *config.typeshed_thirdparty_path;
  }
  resolver_config.site_packages_paths = to_paths(config.site_packages_paths);

  if (import_resolver_) {
    std::lock_guard lock(import_resolver_->mutex);
    import_resolver_->resolver.update_config(std::move(resolver_config));
  } else {
    import_resolver_ = std::make_shared<SharedImportResolver>(std::move(resolver_config));
  }
  python_version_ = config.python_version;
}

void Indexer::set_indexed_files(std::span<const FileToIndex> files) const {
  // Lower-casing every path is not free: count only when the line will be written.
  if (!log::enabled(log::Level::Trace, kLogTarget)) return;
  KLOG_TRACE(kLogTarget, "set_indexed_files: {} files, {} package roots", files.size(),
             count_package_roots(files));
}

std::optional<FileIndexResult> Indexer::check_should_skip_file(const FileToIndex& file) {
  profiling::TimingGuard timer("file_name_check");
  const std::string_view stem = file_stem(last_path_component(file.path));
  const bool skipped = stem.size() >= 2 && stem.front() == '_' && !is_dunder_name(stem);
  if (!skipped) return std::nullopt;
  KLOG_DEBUG(kLogTarget, "Skipping private/protected file: {}", file.path);
  FileIndexResult result = empty_result(file);
  result.private_or_protected = true;
  return result;
}

Result<std::string> Indexer::read_file_content(const std::string& path) {
  std::string buffer;
  auto text = read_file_text(path, buffer);
  if (!text) return Unexpected(std::move(text.error()));
  buffer.resize(text->size());
  return buffer;
}

Result<std::string_view> Indexer::read_file_text(const std::string& path, std::string& buffer) {
  if (path.find('\0') != std::string::npos) {
    // The OS cannot even be asked about such a name.
    return Unexpected(std::string("file name contained an unexpected NUL byte"));
  }
  MappedFile file;
  // Non-blocking, so a named pipe in a batch fails at the map instead of waiting for a writer
  // forever; regular files read the same either way.
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file.fd < 0) return Unexpected(os_error_text(errno));
  struct stat status {};
  if (::fstat(file.fd, &status) != 0) return Unexpected(os_error_text(errno));
  const auto size = static_cast<std::size_t>(status.st_size);
  if (S_ISREG(status.st_mode)) return read_regular_file(file.fd, size, buffer);
  // Directories and devices go through a read-only map, which refuses them with the OS's own
  // error (a directory: "No such device"). An empty map still covers one byte.
  file.length = size == 0 ? 1 : size;
  file.data = ::mmap(nullptr, file.length, PROT_READ, MAP_SHARED, file.fd, 0);
  if (file.data == MAP_FAILED) return Unexpected(os_error_text(errno));
  buffer.assign(static_cast<const char*>(file.data), size);
  return checked_text(buffer);
}

std::optional<FileIndexResult> Indexer::check_fast_path_skip(const FileToIndex& file,
                                                             std::string_view text) {
  profiling::TimingGuard timer("__all__check");
  if (file.is_stub || file.is_py_typed || file.include_all_symbols) return std::nullopt;
  if (contains(text, "__all__") || contains_star_import(text)) return std::nullopt;
  KLOG_DEBUG(kLogTarget, "Skipping file without __all__ or wildcard imports: {}", file.path);
  return empty_result(file);
}

FileIndexResult Indexer::index_file(const FileToIndex& file) const {
  profiling::TimingGuard timer("index_file_total");
  KLOG_DEBUG(kLogTarget, "Indexing file: {} (is_stub={}, is_py_typed={}, include_all_symbols={})",
             file.path, file.is_stub, file.is_py_typed, file.include_all_symbols);
  if (auto skipped = check_should_skip_file(file)) return std::move(*skipped);

  const auto read_start = std::chrono::steady_clock::now();
  thread_local std::string buffer;
  struct TrimBuffer {
    ~TrimBuffer() {
      if (buffer.size() > kKeptReadBuffer) std::string().swap(buffer);
    }
  } trim;
  auto text = read_file_text(file.path, buffer);
  if (!text) {
    KLOG_WARN(kLogTarget, "Failed to read file {}: {}", file.path, text.error());
    FileIndexResult failed = empty_result(file);
    failed.error = "Failed to read file: " + text.error();
    return failed;
  }
  profiling::record_timing(
      "file_read", profiling::Duration::from(std::chrono::steady_clock::now() - read_start));

  if (auto skipped = check_fast_path_skip(file, *text)) return std::move(*skipped);

  Result<std::vector<IndexedSymbol>> symbols = [&] {
    profiling::TimingGuard extract_timer("extract_symbols_binder_total");
    return extract_and_build_result(file, *text);
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
    worker_pool::parallel_for_each_index(files.size(),
                                         [&](std::size_t i) { results[i] = index_file(files[i]); });
  } else {
    for (std::size_t i = 0; i < files.size(); ++i) results[i] = index_file(files[i]);
  }
  return results;
}

Result<std::vector<IndexedSymbol>> Indexer::extract_and_build_result(const FileToIndex& file,
                                                                     std::string_view text) const {
  const auto parse_start = std::chrono::steady_clock::now();
  auto parsed = python::parse_module(text, python::ParseDepth::Outline);
  if (!parsed) {
    std::string rendering = render_parse_error(parsed.error());
    KLOG_WARN(kLogTarget, "Failed to parse file {}: {}", file.path, rendering);
    return Unexpected(std::move(rendering));
  }
  profiling::record_timing(
      "parse", profiling::Duration::from(std::chrono::steady_clock::now() - parse_start));

  binder::BinderResult bound = [&] {
    profiling::TimingGuard bind_timer("bind_module");
    return binder::Binder(file_info_for(file)).bind_module(parsed->body());
  }();
  profiling::TimingGuard convert_timer("convert_symbols");
  return convert_symbols(bound.module_scope, file);
}

binder::FileInfo Indexer::file_info_for(const FileToIndex& file) const {
  binder::FileInfo info;
  info.module_name = file.module_name.value_or(std::string());
  info.is_stub = file.is_stub;
  info.is_py_typed = file.is_py_typed;
  if (python_version_) {
    info.python_version = binder::PythonVersion{python_version_->major, python_version_->minor};
  }
  return info;
}

std::vector<IndexedSymbol> Indexer::convert_symbols(const binder::Scope& scope,
                                                    const FileToIndex& file) {
  std::vector<IndexedSymbol> symbols;
  symbols.reserve(scope.symbol_map.size());
  for (const auto& [name, symbol] : scope.symbol_map) {
    if (is_dunder_name(name) && !(symbol.flags & binder::SymbolFlags::IN_DUNDER_ALL)) continue;
    const bool declared = std::any_of(
        symbol.declarations.begin(), symbol.declarations.end(),
        [](const binder::Declaration& d) { return d.kind != binder::DeclarationKind::Import; });
    if (!declared) continue;  // names bound only by imports are resolved in cross-file mode
    if (auto converted = convert_declared_symbol(name, symbol, file)) {
      symbols.push_back(std::move(*converted));
    }
  }
  return symbols;
}

std::optional<IndexedSymbol> Indexer::convert_declared_symbol(std::string_view name,
                                                              const binder::Symbol& symbol,
                                                              const FileToIndex& file) {
  using binder::SymbolFlags;
  const bool restricted = file.is_stub || file.is_py_typed;
  const bool in_all = (symbol.flags & SymbolFlags::IN_DUNDER_ALL) != 0;
  if (restricted ? (symbol.flags & SymbolFlags::kHiddenMask) != 0
                 : !(in_all || file.include_all_symbols)) {
    return std::nullopt;
  }
  uint32_t visibility = in_all ? protocol::kVisibilityInDunderAll : 0;
  if ((!restricted && file.include_all_symbols) || !(symbol.flags & SymbolFlags::HIDDEN)) {
    visibility |= protocol::kVisibilityPublic;
  }
  IndexedSymbol out;
  out.name = std::string(name);
  out.visibility_flags = visibility;
  out.kind = determine_symbol_kind(name, symbol.declarations);
  for (const auto& declaration : symbol.declarations) {
    if (declaration.kind != binder::DeclarationKind::Import || !declaration.alias_info) continue;
    const auto& alias = *declaration.alias_info;
    out.alias = protocol::SymbolAlias{alias.imported_name.value_or(std::string()),
                                      alias.module_name, kSymbolKindVariable};
    break;
  }
  return out;
}

uint32_t Indexer::determine_symbol_kind(std::string_view name,
                                        std::span<const binder::Declaration> declarations) {
  if (declarations.empty()) return kSymbolKindVariable;
  const binder::Declaration& first = declarations.front();
  switch (first.kind) {
    case binder::DeclarationKind::Function:
      return kSymbolKindFunction;
    case binder::DeclarationKind::Class:
      return kSymbolKindClass;
    case binder::DeclarationKind::TypeAlias:
      return kSymbolKindTypeParameter;
    case binder::DeclarationKind::Import:
      return kSymbolKindVariable;
    case binder::DeclarationKind::Variable:
      break;
  }
  if (first.is_constant || first.is_final) return kSymbolKindConstant;
  // ASCII only on purpose: the binder's own constant test already covers Unicode upper case.
  bool has_upper = false;
  for (const char c : name) {
    if (c >= 'A' && c <= 'Z') {
      has_upper = true;
    } else if (!(c >= '0' && c <= '9') && c != '_') {
      return kSymbolKindVariable;
    }
  }
  return has_upper ? kSymbolKindConstant : kSymbolKindVariable;
}

void Indexer::dedup_symbols(std::vector<IndexedSymbol>& symbols) {
  if (symbols.size() < 2) return;
  absl::flat_hash_set<std::string_view> seen;
  seen.reserve(symbols.size());
  std::size_t kept = 0;
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    if (seen.contains(symbols[i].name)) continue;
    // Move first, then remember the name where it now lives: a short name's bytes move with it.
    if (kept != i) symbols[kept] = std::move(symbols[i]);
    seen.insert(symbols[kept].name);
    ++kept;
  }
  symbols.erase(symbols.begin() + static_cast<std::ptrdiff_t>(kept), symbols.end());
}

std::string Indexer::render_parse_error(const python::ParseError& error) {
  return fmt::format("[ParseError {{ error: {}, location: {}..{} }}]", error.kind_text(),
                     error.range.start, error.range.end);
}

}  // namespace korvane::indexer
