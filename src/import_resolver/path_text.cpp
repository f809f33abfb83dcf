#include "import_resolver/path_text.h"

#include <cstdint>

#include <fmt/format.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "import_resolver/import_resolver.h"

namespace korvane::import_resolver {
namespace {

// Drops trailing separators and trailing "." components, never the root itself.
std::string_view trim_right(std::string_view path) {
  while (true) {
    if (path.size() > 1 && path.back() == '/') {
      path.remove_suffix(1);
    } else if (path.size() >= 2 && path.ends_with("/.")) {
      path.remove_suffix(1);
    } else {
      return path;
    }
  }
}

bool needs_escape(UChar32 c) {
  if (c == ' ') return false;
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
    case U_SPACE_SEPARATOR:
    case U_PRIVATE_USE_CHAR:
    case U_SURROGATE:
    case U_UNASSIGNED:
      return true;
    default:
      return u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND) != 0;
  }
}

void append_escaped(std::string& out, UChar32 c, std::string_view raw) {
  switch (c) {
    case '\0':
      out += "\\0";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '"':
      out += "\\\"";
      return;
    default:
      break;
  }
  if (needs_escape(c)) {
    out += fmt::format("\\u{{{:x}}}", static_cast<uint32_t>(c));
  } else {
    out += raw;
  }
}

}  // namespace

std::optional<std::string_view> parent_of(std::string_view path) {
  path = trim_right(path);
  if (path.empty() || path == "/") return std::nullopt;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string_view();
  return trim_right(path.substr(0, slash + 1));
}

std::string normalized_key(std::string_view path) {
  std::string key;
  key.reserve(path.size());
  const bool absolute = path.starts_with('/');
  if (absolute) key.push_back('/');
  bool first = true;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view component = path.substr(start, end - start);
    const bool keep = !component.empty() && (component != "." || (first && !absolute));
    if (keep) {
      if (!key.empty() && key.back() != '/') key.push_back('/');
      key.append(component);
    }
    if (!component.empty()) first = false;
    start = end + 1;
  }
  return key;
}

std::string path_to_text(const std::filesystem::path& path) {
  const std::string& bytes = path.native();
  std::string out;
  out.reserve(bytes.size());
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto length = static_cast<int32_t>(bytes.size());
  int32_t i = 0;
  while (i < length) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(data, i, length, c);
    if (c < 0) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(bytes, static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
    }
  }
  return out;
}

std::string quote_path(std::string_view path) {
  std::string out = "\"";
  const auto* bytes = reinterpret_cast<const uint8_t*>(path.data());
  const auto length = static_cast<int32_t>(path.size());
  int32_t i = 0;
  while (i < length) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {
      for (int32_t b = start; b < i; ++b) out += fmt::format("\\x{:02X}", bytes[b]);
      continue;
    }
    append_escaped(
        out, c, path.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
  }
  out.push_back('"');
  return out;
}

}  // namespace korvane::import_resolver
