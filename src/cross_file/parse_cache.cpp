#include "cross_file/parse_cache.h"

#include <utility>

#include "util/file_text.h"

namespace korvane::cross_file {
namespace {

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

std::optional<CachedParse> ParseCache::get_or_parse(std::string_view path) {
  std::string key(path);
  {
    std::lock_guard lock(mutex_);
    if (auto hit = entries_.find(key); hit != entries_.end()) return hit->second;
  }
  std::optional<CachedParse> parse = read_and_parse(path);
  if (!parse) return std::nullopt;
  {
    // Two threads that missed together both parse; the later insert wins, both results are valid.
    std::lock_guard lock(mutex_);
    entries_.insert_or_assign(std::move(key), *parse);
  }
  return parse;
}

void ParseCache::release(std::string_view path) {
  CachedParse dropped;
  {
    std::lock_guard lock(mutex_);
    auto hit = entries_.find(std::string(path));
    if (hit == entries_.end()) return;
    dropped = std::move(hit->second);
    entries_.erase(hit);
  }
  // The text and tree are freed here, outside the lock, unless a reader still holds them.
  const std::size_t bytes = dropped.source->size() + dropped.module->arena_bytes();
  dropped = CachedParse{};
  if (on_freed_) on_freed_(bytes);
}

std::size_t ParseCache::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace korvane::cross_file
