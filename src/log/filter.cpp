#include "log/filter.h"

#include <algorithm>
#include <array>

#include "util/utf8.h"
#include "util/white_space.h"

namespace korvane::log {

namespace {

bool equals_ascii_case_insensitive(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

// "off".."trace" in any ASCII case, or 0..5 with leading zeros and one optional '+'.
std::optional<int> parse_level(std::string_view word) {
  static constexpr std::array<std::string_view, 6> kNames = {"off",  "error", "warn",
                                                             "info", "debug", "trace"};
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (equals_ascii_case_insensitive(word, kNames[i])) return static_cast<int>(i);
  }
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  if (word.empty()) return std::nullopt;
  int value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 5) return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<Filter> Filter::parse(std::string_view directives) {
  Filter filter;
  std::size_t order = 0;
  std::vector<std::pair<Directive, std::size_t>> parsed;
  while (true) {
    const std::size_t comma = directives.find(',');
    const std::string_view piece = trim_white_space(directives.substr(0, comma));
    if (!piece.empty()) {
      Directive d;
      const std::size_t eq = piece.find('=');
      if (eq == std::string_view::npos) {
        if (auto level = parse_level(piece)) {
          d.level = *level;
        } else {
          d.target = std::string(piece);
          d.level = 5;
        }
      } else {
        auto level = parse_level(piece.substr(eq + 1));
        const std::string_view target = piece.substr(0, eq);
        if (!level || target.empty()) return std::nullopt;
        d.target = std::string(target);
        d.level = *level;
      }
      parsed.emplace_back(std::move(d), order++);
    }
    if (comma == std::string_view::npos) break;
    directives.remove_prefix(comma + 1);
  }
  std::stable_sort(parsed.begin(), parsed.end(), [](const auto& a, const auto& b) {
    const auto rank = [](const Directive& d) {
      return d.target ? static_cast<long>(d.target->size()) : -1L;
    };
    if (rank(a.first) != rank(b.first)) return rank(a.first) > rank(b.first);
    return a.second > b.second;  // of equal length, the later directive is consulted first
  });
  for (auto& [d, unused] : parsed) {
    filter.max_level_ = std::max(filter.max_level_, d.level);
    filter.directives_.push_back(std::move(d));
  }
  return filter;
}

Filter Filter::from_env_value(const char* value) {
  if (value == nullptr || validate_utf8(value)) return *parse(kDefaultFilter);
  auto parsed = parse(value);
  return parsed ? std::move(*parsed) : *parse(kDefaultFilter);
}

bool Filter::enabled(Level level, std::string_view target) const {
  const int wanted = static_cast<int>(level);
  if (wanted > max_level_) return false;
  for (const Directive& d : directives_) {
    if (d.target && !target.starts_with(*d.target)) continue;
    return wanted <= d.level;
  }
  return false;
}

}  // namespace korvane::log
