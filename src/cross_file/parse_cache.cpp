#include "cross_file/parse_cache.h"

#include <utility>

#include "util/file_text.h"
#include "util/memory_release.h"
#include "util/unicode_text.h"

namespace korvane::cross_file {
namespace {

constexpr std::size_t kGiveBackEvery = std::size_t{1} << 20;

// Owns the text and its tree together, so a handle to the tree alone still keeps the text.
struct ParsedFile {
  ParsedFile(std::shared_ptr<const std::string> text, python::ParsedModule parsed)
      : source(std::move(text)), module(std::move(parsed)) {}
  std::shared_ptr<const std::string> source;
  python::ParsedModule module;
};

std::optional<CachedParse> read_and_parse(std::string_view path) {
  Result<std::string> text = read_file_content(std::string(path));
  if (!text) return std::nullopt;
  auto source = std::make_shared<const std::string>(std::move(*text));
  auto parsed = python::parse_module(*source, python::ParseDepth::Outline);
  if (!parsed) return std::nullopt;
  auto file = std::make_shared<const ParsedFile>(source, std::move(*parsed));
  return CachedParse{std::shared_ptr<const python::ParsedModule>(file, &file->module),
                     std::move(source)};
}

}  // namespace

std::string ParseCache::key_of(std::string_view path) {
  std::string slashed(path);
  for (char& ch : slashed) {
    if (ch == '\\') ch = '/';
  }
  return unicode_lowercase(slashed);
}

std::optional<CachedParse> ParseCache::get_or_parse(std::string_view path) {
  std::string key = key_of(path);
  std::string read_from(path);
  {
    std::lock_guard lock(mutex_);
    if (auto hit = entries_.find(key); hit != entries_.end()) {
      if (hit->second.parse.module) return hit->second.parse;
      read_from = hit->second.read_from;
    }
  }
  std::optional<CachedParse> parse = read_and_parse(read_from);
  if (!parse) return std::nullopt;
  {
    // Two threads that missed together both parse; the later insert wins, both results are valid.
    std::lock_guard lock(mutex_);
    entries_.insert_or_assign(std::move(key), Entry{*parse, std::move(read_from)});
  }
  return parse;
}

void ParseCache::release(std::string_view path) {
  const std::string key = key_of(path);
  CachedParse dropped;
  bool give_back = false;
  {
    std::lock_guard lock(mutex_);
    auto hit = entries_.find(key);
    if (hit == entries_.end() || !hit->second.parse.module) return;
    dropped = std::exchange(hit->second.parse, CachedParse{});
    released_bytes_ += dropped.source->size() + dropped.module->arena_bytes();
    give_back = released_bytes_ >= kGiveBackEvery;
    if (give_back) released_bytes_ = 0;
  }
  dropped = CachedParse{};
  if (give_back) release_free_memory();
}

std::size_t ParseCache::size() const {
  std::lock_guard lock(mutex_);
  std::size_t live = 0;
  for (const auto& [key, entry] : entries_) live += entry.parse.module ? 1 : 0;
  return live;
}

}  // namespace korvane::cross_file
