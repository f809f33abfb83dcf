#include "package_scanner/package_scanner.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string_view>
#include <utility>

#include "log/log.h"
#include "package_scanner/dir_listing.h"
#include "package_scanner/path_components.h"
#include "util/display_text.h"
#include "util/os_error.h"
#include "util/utf8.h"

namespace korvane::package_scanner {

namespace {

constexpr std::string_view kTarget = "korvane_indexer::package_scanner";

// Below this many levels the nested-package search stops listing (level 0 is the top directory).
constexpr uint32_t kNestedSearchLevels = 3;

bool is_dunder(std::string_view name) {
  return name.size() >= 2 && name.substr(0, 2) == "__" && name.substr(name.size() - 2) == "__";
}

bool is_private(std::string_view name) {
  return !name.empty() && name[0] == '_' && !is_dunder(name);
}

bool is_valid_utf8(std::string_view bytes) { return !validate_utf8(bytes).has_value(); }

// A file name split at its last "."; a name whose only "." is its first character has no
// extension.
struct NameParts {
  std::string_view stem;
  std::optional<std::string_view> extension;
};

NameParts split_name(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {name, std::nullopt};
  return {name.substr(0, dot), name.substr(dot + 1)};
}

// Joining onto the empty path gives the name alone, never an absolute path.
void append_component(std::string& path, std::string_view name) {
  if (!path.empty() && path.back() != '/') path.push_back('/');
  path.append(name);
}

std::string joined(std::string_view dir, std::string_view name) {
  std::string path(dir);
  append_component(path, name);
  return path;
}

// Set only by tests, through PackageScanner::set_reopen_hook_for_testing.
std::function<void(const std::string&)>& reopen_hook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

// The process (or the whole system) has no descriptor left to give.
bool out_of_descriptors(int error) { return error == EMFILE || error == ENFILE; }

// Path texts from a client may hold a NUL byte, which no file-system call can take.
bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

bool probe(const std::string& dir, std::string_view marker) {
  if (has_nul(dir)) return false;
  struct stat st;
  return ::stat(joined(dir, marker).c_str(), &st) == 0;
}

std::string marker_below(std::string_view name, std::string_view marker) {
  std::string rel(name);
  rel.push_back('/');
  rel.append(marker);
  return rel;
}

bool contains_init_at(const DirListing& dir, std::string_view name) {
  return dir.has(marker_below(name, "__init__.py").c_str()) ||
         dir.has(marker_below(name, "__init__.pyi").c_str());
}

bool contains_py_typed_at(const DirListing& dir, std::string_view name) {
  return dir.has(marker_below(name, "py.typed").c_str());
}

// Walks one package, depth first, without recursing: the directories being listed form an
// explicit stack, so neither the call stack nor the open descriptors grow with the depth of the
// tree. The directories on the stack are remembered by identity so that a cycle of symbolic
// links ends instead of descending forever; a directory reached twice along different branches
// is still listed each time.
class PackageWalker {
 public:
  PackageWalker(RootKind kind, uint32_t max_depth, bool include_all_symbols,
                std::vector<ModuleFileInfo>& out)
      : kind_(kind), max_depth_(max_depth), include_all_symbols_(include_all_symbols), out_(out) {}

  // Seeds the descent path with a directory above the package (the search root).
  void enter_above(DirIdentity id) { descent_.insert(id); }

  // `at_name` relative to `at_fd` opens the directory whose path text is `path`.
  // `dir_has_init` is the caller's probe of that directory, so it is not repeated.
  void walk(int at_fd, const char* at_name, std::string& path,
            const std::optional<std::string>& parent, bool py_typed, bool dir_has_init,
            uint32_t depth);

  // The same, over a directory the caller has already opened (`depth` at most the limit).
  void walk_listing(DirListing dir, std::string& path, const std::optional<std::string>& parent,
                    bool py_typed, bool dir_has_init, uint32_t depth);

  // What the walk says of a directory it could not open.
  static void report_unreadable(const std::string& path, int error);

 private:
  // A directory being listed. Its package name is the first `package_len` bytes of `package_`:
  // a child's name only ever extends its parent's.
  struct Frame {
    DirListing listing;
    std::string name;  // relative to the parent directory, to open it again once detached
    std::size_t path_len = 0;
    std::optional<std::size_t> package_len;
    bool py_typed = false;
    bool has_init = false;
    uint32_t depth = 0;
  };

  // The deepest directories of the stack stay open, as they are listed next; further up only
  // every `stride_`-th does, so that reopening a detached one walks few names. The stride
  // doubles whenever more than kMaxAnchors such directories would be open.
  static constexpr std::size_t kOpenWindow = 64;
  static constexpr std::size_t kMaxAnchors = 64;

  bool enter(DirListing dir, std::string name, const std::string& path,
             std::optional<std::size_t> package_len, bool py_typed, bool has_init, uint32_t depth);
  void leave();
  void leave_from(std::size_t index);
  void step(std::string& path);
  bool keeps_open(std::size_t index, std::size_t top) const;
  void bound_open_directories();
  bool free_descriptor(std::size_t below);
  std::optional<DirListing> open_below(std::size_t parent, const char* name, int* error);
  bool reattach_top(const std::string& path);
  bool reopen(std::size_t index, const std::string& path);
  void take_file(const Frame& dir, std::string& path, std::string_view raw, std::string_view name);
  void take_directory(std::string& path, std::string_view raw, std::string_view name);

  RootKind kind_;
  uint32_t max_depth_;
  bool include_all_symbols_;
  std::vector<ModuleFileInfo>& out_;
  std::vector<Frame> stack_;
  GrowthSafe<absl::flat_hash_set<DirIdentity>> descent_;
  std::string package_;
  std::size_t stride_ = kOpenWindow;
};

void PackageWalker::walk(int at_fd, const char* at_name, std::string& path,
                         const std::optional<std::string>& parent, bool py_typed, bool dir_has_init,
                         uint32_t depth) {
  if (depth > max_depth_) return;
  int error = 0;
  auto dir = DirListing::open(at_fd, at_name, &error);
  if (!dir) {
    report_unreadable(path, error);
    return;
  }
  walk_listing(std::move(*dir), path, parent, py_typed, dir_has_init, depth);
}

void PackageWalker::report_unreadable(const std::string& path, int error) {
  KLOG_WARN(kTarget, "Failed to read directory {}: {}", debug_quoted(path), os_error_text(error));
}

void PackageWalker::walk_listing(DirListing dir, std::string& path,
                                 const std::optional<std::string>& parent, bool py_typed,
                                 bool dir_has_init, uint32_t depth) {
  const std::size_t base_len = path.size();
  std::optional<std::size_t> package_len;
  if (parent) {
    package_ = *parent;
    package_len = package_.size();
  }
  if (!enter(std::move(dir), std::string(), path, package_len, py_typed, dir_has_init, depth)) {
    return;
  }
  while (!stack_.empty()) step(path);
  path.resize(base_len);
}

bool PackageWalker::enter(DirListing dir, std::string name, const std::string& path,
                          std::optional<std::size_t> package_len, bool py_typed, bool has_init,
                          uint32_t depth) {
  if (!descent_.insert(dir.identity()).second) {
    KLOG_DEBUG(kTarget, "Not entering directory cycle at {}", debug_quoted(path));
    return false;
  }
  stack_.push_back(
      Frame{std::move(dir), std::move(name), path.size(), package_len, py_typed, has_init, depth});
  bound_open_directories();
  return true;
}

void PackageWalker::leave() {
  descent_.erase(stack_.back().listing.identity());
  stack_.pop_back();
}

// Leaves the directory at `index` and everything below it.
void PackageWalker::leave_from(std::size_t index) {
  while (stack_.size() > index) leave();
}

// Lists one entry of the deepest directory, or leaves that directory when it has no more.
void PackageWalker::step(std::string& path) {
  if (!stack_.back().listing.attached() && !reattach_top(path)) return;
  Frame& dir = stack_.back();
  path.resize(dir.path_len);
  const char* entry = dir.listing.next();
  if (entry == nullptr) {
    leave();
    return;
  }
  const std::string_view raw(entry);
  const std::string name = utf8_lossy(raw);
  if (name == "__pycache__" || name[0] == '.') return;
  const EntryKind kind = dir.listing.kind_of_last();
  if (kind == EntryKind::Other) return;
  append_component(path, raw);
  if (kind == EntryKind::File) {
    take_file(dir, path, raw, name);
  } else {
    take_directory(path, raw, name);
  }
}

bool PackageWalker::keeps_open(std::size_t index, std::size_t top) const {
  return index == 0 || index % stride_ == 0 || index + kOpenWindow > top;
}

void PackageWalker::bound_open_directories() {
  const std::size_t top = stack_.size() - 1;
  if (top / stride_ > kMaxAnchors) {
    stride_ *= 2;
    for (std::size_t i = 1; i + kOpenWindow <= top; ++i) {
      if (!keeps_open(i, top)) stack_[i].listing.detach();
    }
  } else if (top >= kOpenWindow && !keeps_open(top - kOpenWindow, top)) {
    stack_[top - kOpenWindow].listing.detach();
  }
}

// Gives back the descriptor of one open directory above stack index `below`, detaching it.
// Only the bound's window and anchors are open, so only they are looked at. Anchors go last, as
// they keep the way back to a detached directory short; the package directory never goes, as
// nothing could open it again.
bool PackageWalker::free_descriptor(std::size_t below) {
  const std::size_t top = stack_.size() - 1;
  const std::size_t window = top + 1 > kOpenWindow ? top + 1 - kOpenWindow : 1;
  for (std::size_t i = std::max<std::size_t>(window, 1); i < below; ++i) {
    if (i % stride_ != 0 && stack_[i].listing.attached()) {
      stack_[i].listing.detach();
      return true;
    }
  }
  for (std::size_t i = stride_; i < below; i += stride_) {
    if (stack_[i].listing.attached()) {
      stack_[i].listing.detach();
      return true;
    }
  }
  return false;
}

// Opens `name` below the directory at stack index `parent`. Out of descriptors, it frees them
// from the directories above one by one and tries again, so that a low open-file limit costs
// time rather than files.
std::optional<DirListing> PackageWalker::open_below(std::size_t parent, const char* name,
                                                    int* error) {
  for (;;) {
    auto dir = DirListing::open(stack_[parent].listing.fd(), name, error);
    if (dir || !out_of_descriptors(*error) || !free_descriptor(parent)) return dir;
  }
}

// Opens the deepest directory again, through the names of the detached ones above it, keeping
// open those that the bound allows. One that cannot be reopened is left with all below it.
bool PackageWalker::reattach_top(const std::string& path) {
  const std::size_t top = stack_.size() - 1;
  std::size_t first = top;
  while (first > 0 && !stack_[first - 1].listing.attached()) --first;
  if (first == 0) {  // the package directory itself is never detached
    leave();
    return false;
  }
  for (std::size_t i = first; i <= top; ++i) {
    if (!reopen(i, path)) {
      leave_from(i);
      return false;
    }
    if (i > first && !keeps_open(i - 1, top)) stack_[i - 1].listing.detach();
  }
  return true;
}

// `path` begins with the path of every directory on the stack.
bool PackageWalker::reopen(std::size_t index, const std::string& path) {
  Frame& dir = stack_[index];
  const std::string dir_path = path.substr(0, dir.path_len);
  if (reopen_hook()) reopen_hook()(dir_path);
  for (;;) {
    int error = 0;
    switch (dir.listing.reattach(stack_[index - 1].listing.fd(), dir.name.c_str(), &error)) {
      case DirListing::Reattach::Done:
        return true;
      case DirListing::Reattach::Replaced:
        KLOG_WARN(kTarget, "Directory {} was replaced during the scan; the rest of it is skipped",
                  debug_quoted(dir_path));
        return false;
      case DirListing::Reattach::Failed:
        break;
    }
    if (!out_of_descriptors(error)) return false;  // removed meanwhile: as if never there
    if (!free_descriptor(index - 1)) {
      report_unreadable(dir_path, error);
      return false;
    }
  }
}

void PackageWalker::take_file(const Frame& dir, std::string& path, std::string_view raw,
                              std::string_view name) {
  const NameParts parts = split_name(raw);
  if (!parts.extension) return;
  bool is_stub;
  if (*parts.extension == "pyi") {
    is_stub = true;
  } else if (*parts.extension == "py") {
    is_stub = false;
  } else {
    return;
  }
  const bool is_init = name == "__init__.py" || name == "__init__.pyi";
  if (!is_stub && !dir.has_init && !is_init) return;
  const std::string_view stem = is_valid_utf8(parts.stem) ? parts.stem : std::string_view();
  if (is_private(stem)) return;
  if (log::enabled(log::Level::Trace, kTarget)) {
    KLOG_TRACE(kTarget, "Found file: {} (stub={}, init={}, depth={})", debug_quoted(path), is_stub,
               is_init, dir.depth);
  }
  ModuleFileInfo& info = out_.emplace_back();
  info.path = path;
  info.is_stdlib = kind_.is_stdlib;
  info.is_typeshed_stub = kind_.is_typeshed_stub;
  info.is_bundled_stub = kind_.is_bundled_stub;
  // The parent's name, then for any file but __init__ a "." and its stem.
  if (dir.package_len || !is_init) {
    std::string& package = info.package_name.emplace();
    if (dir.package_len) package.append(package_, 0, *dir.package_len);
    if (!is_init) {
      if (dir.package_len) package.push_back('.');
      package.append(stem);
    }
  }
  info.py_typed_package = dir.py_typed;
  info.include_all_symbols = include_all_symbols_;
  info.is_stub = is_stub;
}

void PackageWalker::take_directory(std::string& path, std::string_view raw, std::string_view name) {
  const Frame& dir = stack_.back();
  if (is_private(name)) return;
  // A child below the limit would be returned from at once: its probes would change nothing.
  if (uint64_t{dir.depth} + 1 > max_depth_) return;
  std::string raw_name(raw);
  // A directory without __init__ adds nothing to the names of the files below it.
  const bool has_init = contains_init_at(dir.listing, raw);
  const bool py_typed = dir.py_typed || (has_init && contains_py_typed_at(dir.listing, raw));
  std::optional<std::size_t> package_len = dir.package_len;
  if (has_init) {
    if (package_len) {
      package_.resize(*package_len);
      package_.push_back('.');
    } else {
      package_.clear();
    }
    package_.append(name);
    package_len = package_.size();
  }
  const uint32_t depth = dir.depth + 1;
  int error = 0;
  auto child = open_below(stack_.size() - 1, raw_name.c_str(), &error);
  if (!child) {
    report_unreadable(path, error);
    return;
  }
  enter(std::move(*child), std::move(raw_name), path, package_len, py_typed, has_init, depth);
}

uint64_t whole_ms_since(std::chrono::steady_clock::time_point start) {
  const auto now = std::chrono::steady_clock::now();
  if (now < start) return 0;
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count());
}

}  // namespace

PackageScanner::PackageScanner(ScanConfig config) : config_(std::move(config)) {}

bool PackageScanner::contains_init(const std::string& dir) {
  return probe(dir, "__init__.py") || probe(dir, "__init__.pyi");
}

bool PackageScanner::contains_py_typed(const std::string& dir) { return probe(dir, "py.typed"); }

void PackageScanner::set_reopen_hook_for_testing(std::function<void(const std::string&)> hook) {
  reopen_hook() = std::move(hook);
}

void PackageScanner::scan_package(const std::string& dir, RootKind kind,
                                  const std::optional<std::string>& parent, bool py_typed,
                                  uint32_t max_depth, bool include_all_symbols, uint32_t depth,
                                  std::vector<ModuleFileInfo>& out) {
  PackageWalker walker(kind, max_depth, include_all_symbols, out);
  std::string path = dir;
  // Opening "" fails like the NUL-carrying path it stands for.
  walker.walk(AT_FDCWD, has_nul(dir) ? "" : dir.c_str(), path, parent, py_typed, contains_init(dir),
              depth);
}

std::optional<uint32_t> PackageScanner::find_nested_package_depth(const std::string& dir) {
  return nested_package_depth(dir, nullptr);
}

std::optional<uint32_t> PackageScanner::nested_package_depth(const std::string& dir,
                                                             DirListing* top) {
  std::string key = component_key(dir);
  if (auto hit = namespace_depth_cache_.find(key); hit != namespace_depth_cache_.end()) {
    return hit->second;
  }
  std::optional<uint32_t> best;
  std::vector<std::pair<std::string, uint32_t>> work;
  work.emplace_back(dir, 0);
  while (!work.empty() && best != 2u) {
    auto [current, level] = std::move(work.back());
    work.pop_back();
    if (level >= kNestedSearchLevels || has_nul(current)) continue;
    const bool use_top = level == 0 && top != nullptr;
    int error = 0;
    std::optional<DirListing> opened =
        use_top ? std::nullopt : DirListing::open(AT_FDCWD, current.c_str(), &error);
    if (!use_top && !opened) continue;
    DirListing& listing = use_top ? *top : *opened;
    while (const char* entry = listing.next()) {
      const std::string name = utf8_lossy(entry);
      if (name[0] == '.' || name == "__pycache__" || is_private(name)) continue;
      if (listing.kind_of_last() != EntryKind::Directory) continue;
      if (contains_init_at(listing, entry)) {
        best = std::min(best.value_or(level + 2), level + 2);
        if (best == 2u) break;
      } else {
        work.emplace_back(joined(current, entry), level + 1);
      }
    }
  }
  namespace_depth_cache_.emplace(std::move(key), best);
  return best;
}

RootKind PackageScanner::classify_root(const std::string& root) const {
  auto under = [&](const std::optional<std::string>& base) {
    return base.has_value() && path_starts_with(root, *base);
  };
  return {under(config_.typeshed_stdlib_path), under(config_.typeshed_thirdparty_path),
          under(config_.bundled_stub_path)};
}

DepthLimit PackageScanner::package_limit(const std::string& path, const std::string& name,
                                         bool has_init, bool is_stdlib, DirListing* top) {
  if (auto it = config_.package_depths.find(name); it != config_.package_depths.end()) {
    return it->second;
  }
  if (is_stdlib) return {kUnlimitedDepth, false};
  DepthLimit limit = config_.default_depth;
  // A directory without __init__ may still hold packages a level or two down (a namespace
  // package); a shallow default would list none of their files.
  if (!has_init && limit.max_depth <= 3) {
    if (auto nested = nested_package_depth(path, top)) {
      limit.max_depth = std::max(*nested, limit.max_depth);
    }
  }
  return limit;
}

ScanResult PackageScanner::scan() {
  const auto start = std::chrono::steady_clock::now();
  ScanResult result;
  for (const std::string& root : config_.roots) {
    struct stat st;
    if (has_nul(root) || ::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      KLOG_DEBUG(kTarget, "Skipping non-existent root: {}", debug_quoted(root));
      continue;
    }
    const RootKind kind = classify_root(root);
    if (!config_.include_third_party && !kind.is_stdlib) continue;
    KLOG_DEBUG(kTarget, "Scanning root: {} (stdlib={}, typeshed={}, bundled={})",
               debug_quoted(root), kind.is_stdlib, kind.is_typeshed_stub, kind.is_bundled_stub);
    scan_root(root, kind, result);
  }
  result.elapsed_ms = whole_ms_since(start);
  return result;
}

void PackageScanner::scan_root(const std::string& root, RootKind kind, ScanResult& result) {
  int error = 0;
  auto listing = DirListing::open(AT_FDCWD, root.c_str(), &error);
  if (!listing) return;
  std::string path = root;
  const std::size_t base_len = path.size();
  while (const char* entry = listing->next()) {
    const std::string_view raw(entry);
    const std::string name = utf8_lossy(raw);
    // Only the beginning is tested here: "__x" passes although it is private inside a package.
    if (name[0] == '.' || (name[0] == '_' && name.substr(0, 2) != "__")) continue;
    const EntryKind entry_kind = listing->kind_of_last();
    path.resize(base_len);
    append_component(path, raw);
    if (entry_kind == EntryKind::File) {
      const NameParts parts = split_name(raw);
      if (parts.extension != "pyi") continue;
      std::optional<std::string> stem;
      if (is_valid_utf8(parts.stem)) stem.emplace(parts.stem);
      if (kind.is_stdlib && stem && config_.excluded_modules.contains(*stem)) continue;
      result.files.push_back({path, kind.is_stdlib, kind.is_typeshed_stub, kind.is_bundled_stub,
                              std::move(stem), false, config_.default_depth.include_all_symbols,
                              true});
      ++result.packages_scanned;
    } else if (entry_kind == EntryKind::Directory) {
      if (name == "__pycache__") continue;
      if (kind.is_stdlib && config_.excluded_modules.contains(name)) continue;
      scan_top_directory(*listing, entry, name, path, kind, result);
    }
  }
}

void PackageScanner::scan_top_directory(const DirListing& root, const char* entry,
                                        const std::string& name, std::string& path, RootKind kind,
                                        ScanResult& result) {
  const bool has_init = contains_init_at(root, entry);
  const bool py_typed = has_init && contains_py_typed_at(root, entry);
  // Opened once for both the nested-package search and the walk.
  int open_error = 0;
  auto top = DirListing::open(root.fd(), entry, &open_error);
  const DepthLimit limit =
      package_limit(path, name, has_init, kind.is_stdlib, top ? &*top : nullptr);
  ++result.packages_scanned;
  if (limit.max_depth < 1) return;
  if (!top) {
    PackageWalker::report_unreadable(path, open_error);
    return;
  }
  top->rewind();
  PackageWalker walker(kind, limit.max_depth, limit.include_all_symbols, result.files);
  walker.enter_above(root.identity());
  const std::optional<std::string> parent =
      has_init ? std::optional<std::string>(name) : std::nullopt;
  walker.walk_listing(std::move(*top), path, parent, py_typed, has_init, 1);
}

}  // namespace korvane::package_scanner
