#include "python/token.h"

#include <iterator>

namespace korvane::python {

std::string_view token_kind_text(TokenKind kind) {
  static constexpr std::string_view kTexts[] = {
#define TOKEN(Kind, Text) Text,
#include "python/token_kinds.def"
  };
  auto i = static_cast<size_t>(kind);
  return i < std::size(kTexts) ? kTexts[i] : "token";
}

}  // namespace korvane::python
