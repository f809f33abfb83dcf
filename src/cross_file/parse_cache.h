// The parsed modules of one cross-file request, so that each file is read and parsed once
// although the request needs its tree for the module table, the file's own indexing and every
// on-demand build.
//
//   auto cache = std::make_shared<ParseCache>();
//   if (std::optional<CachedParse> parse = cache->get_or_parse(path)) bind(parse->module->body());
//
// Thread-safety: every member may be called from any thread. The mutex guards only the lookup
// and the insert; files are read and parsed without it, so parses of different files overlap.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <absl/container/flat_hash_map.h>

#include "python/parser.h"
#include "util/growth_safe_table.h"
#include "util/memory_release.h"

namespace korvane::cross_file {

// One parsed module and its text. Copies share both; the tree and text never change, and the
// module keeps its text alive (the tree points into it) even if a holder drops `source`.
struct CachedParse {
  std::shared_ptr<const python::ParsedModule> module;
  std::shared_ptr<const std::string> source;
};

class ParseCache {
 public:
  // `on_freed` hears of every parse dropped by release(), with its size, on the releasing thread,
  // whichever it is.
  explicit ParseCache(MemoryFreed on_freed = {}) : on_freed_(std::move(on_freed)) {}
  ParseCache(const ParseCache&) = delete;
  ParseCache& operator=(const ParseCache&) = delete;

  // The parse of `path`, from the cache or read and parsed now; none when the file cannot be
  // read or parsed (failures are not remembered, so a later call tries again).
  std::optional<CachedParse> get_or_parse(std::string_view path);

  // Drops the parse of `path` from the cache once no reader of the request needs it again, so
  // a batch holds only the texts and trees still to come. Asked for after all, the file is read
  // and parsed again.
  void release(std::string_view path);

  // Entries holding a parse.
  std::size_t size() const;

 private:
  MemoryFreed on_freed_;
  mutable std::mutex mutex_;
  // Keyed by the path text as given: paths that differ in letter case or in "\" against "/"
  // name different files on the systems this runs on, and each must be answered from its own.
  GrowthSafe<absl::flat_hash_map<std::string, CachedParse>> entries_;
};

}  // namespace korvane::cross_file
