#include "util/unicode_text.h"

#include <string>

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(UnicodeLowercase, FullMappings) {
  struct Case {
    const char* name;
    std::string text;
    std::string want;
  };
  const Case cases[] = {
      {"Ascii", "C:/Users/ABC", "c:/users/abc"},
      {"Diaeresis", "/\xC3\x84rger", "/\xC3\xA4rger"},  // Ä -> ä
      // İ lower-cases to two code points: i and a combining dot above.
      {"OneToMany", "\xC4\xB0", "i\xCC\x87"},
      // A capital sigma at a word's end becomes the final form ς, inside a word σ.
      {"FinalSigma", "\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82"},
      {"InnerSigma", "\xCE\xA3\xCE\x91", "\xCF\x83\xCE\xB1"},
      {"KelvinSign", "\xE2\x84\xAA", "k"},
      {"InvalidBecomesReplacement", "A\xFF", "a\xEF\xBF\xBD"},
      // A truncated three-byte sequence is one maximal subpart: one replacement.
      {"TruncatedSequence", "\xC3\x84\xE2\x84", "\xC3\xA4\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) EXPECT_EQ(unicode_lowercase(c.text), c.want) << c.name;
}

}  // namespace
}  // namespace korvane
