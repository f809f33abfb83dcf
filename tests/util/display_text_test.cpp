#include "util/display_text.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

struct TextCase {
  std::string bytes;
  const char* lossy;
  const char* quoted;
};

// Names come straight from the file system: any byte but "/" and NUL can occur.
const TextCase kTextCases[] = {
    {"/usr/lib/pkg", "/usr/lib/pkg", "\"/usr/lib/pkg\""},
    {"caf\xC3\xA9", "caf\xC3\xA9", "\"caf\xC3\xA9\""},
    {"a\"b\\c", "a\"b\\c", "\"a\\\"b\\\\c\""},
    {"tab\there\nnl\r", "tab\there\nnl\r", "\"tab\\there\\nnl\\r\""},
    {std::string("nul\0x", 5), nullptr, "\"nul\\0x\""},
    {"bell\x07", "bell\x07", "\"bell\\u{7}\""},
    {"del\x7F", "del\x7F", "\"del\\u{7f}\""},
    {"x\xE2\x80\xA8y", "x\xE2\x80\xA8y", "\"x\\u{2028}y\""},
    {"bad\xFF", "bad\xEF\xBF\xBD", "\"bad\\xFF\""},
    {"two\xE2\x82X", "two\xEF\xBF\xBDX", "\"two\\xE2\\x82X\""},
    {"cut\xF0\x9F\x98", "cut\xEF\xBF\xBD", "\"cut\\xF0\\x9F\\x98\""},
    {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", "\"\\xC0\\xAF\""},
};

TEST(DisplayText, LossyAndQuotedForms) {
  for (const auto& c : kTextCases) {
    if (c.lossy != nullptr) {
      EXPECT_EQ(utf8_lossy(c.bytes), c.lossy) << c.quoted;
    }
    EXPECT_EQ(debug_quoted(c.bytes), c.quoted);
  }
}

}  // namespace
}  // namespace korvane
