// The RUST_LOG filter: comma-separated directives, each a level, a target, or target=level.
//
//   auto f = log::Filter::parse("warn,korvane_indexer::server=debug");
//   f->enabled(Level::Debug, "korvane_indexer::server")   // true: the longest target decides
//   f->enabled(Level::Info, "korvane_indexer")            // false: only "warn" applies
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/log.h"

namespace korvane::log {

inline constexpr std::string_view kDefaultFilter = "korvane_indexer=info";

class Filter {
 public:
  // A filter without directives: shows nothing.
  Filter() = default;

  // None when any piece is not a valid directive.
  static std::optional<Filter> parse(std::string_view directives);
  // The value of RUST_LOG (nullptr when unset): unset, not UTF-8 or invalid gives the
  // default filter, empty gives the filter that shows nothing.
  static Filter from_env_value(const char* value);

  bool enabled(Level level, std::string_view target) const;
  // The most verbose level any directive lets through (0 when none does).
  int max_level() const { return max_level_; }

 private:
  struct Directive {
    std::optional<std::string> target;  // none: every target
    int level = 0;                      // 0 off ... 5 trace
  };
  // Most specific first: longer targets, then later directives, targetless ones last.
  std::vector<Directive> directives_;
  int max_level_ = 0;
};

}  // namespace korvane::log
