#include "signature/unicode_text.h"

#include <gtest/gtest.h>

#include <string>

#include "common/utf16_text.h"

namespace kestrova {
namespace {

// The UTF-8 form of one code point.
std::string Utf8(char32_t c) {
  std::string out;
  AppendUtf8(out, c);
  return out;
}

TEST(TrimWhiteSpace, RemovesEachWhiteSpaceCodePointAtBothEnds) {
  const char32_t whiteSpace[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                 0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                 0x2029, 0x202F, 0x205F, 0x3000};
  ASSERT_EQ(std::size(whiteSpace), 25u);
  for (char32_t c : whiteSpace) {
    const std::string space = Utf8(c);
    EXPECT_EQ(TrimWhiteSpace(space + "a" + space + "b" + space + space), "a" + space + "b")
        << std::hex << static_cast<unsigned>(c);
  }
}

TEST(TrimWhiteSpace, KeepsEverythingElse) {
  // Code points near the White_Space ones, and the format characters that
  // look like spaces but are not.
  const char32_t others[] = {0x08,   0x0E,   0x1F,   0x21,   0x84,   0x86,   0x9F,    0xA1,
                             0x180E, 0x1FFF, 0x200B, 0x200C, 0x2027, 0x202A, 0x202E,  0x2030,
                             0x205E, 0x2060, 0x2FFF, 0x3001, 0xFEFF, 0x0,    0x10FFFF};
  for (char32_t c : others) {
    const std::string text = Utf8(c) + "a" + Utf8(c);
    EXPECT_EQ(TrimWhiteSpace(text), text) << std::hex << static_cast<unsigned>(c);
  }
  EXPECT_EQ(TrimWhiteSpace(""), "");
  EXPECT_EQ(TrimWhiteSpace(" \xE3\x80\x80\t"), "");
}

TEST(IsValidUtf8, AcceptsWellFormedTextOnly) {
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"empty", "", true},
      {"ascii", "abc", true},
      {"zero byte", std::string(1, '\0'), true},
      {"two bytes", "\xC2\x80\xDF\xBF", true},
      {"three bytes", "\xE0\xA0\x80\xEF\xBF\xBF", true},
      {"four bytes", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", true},
      {"cyrillic", "установщик", true},
      {"before the surrogates", "\xED\x9F\xBF", true},
      {"after the surrogates", "\xEE\x80\x80", true},
      {"lone continuation", "\x80", false},
      {"overlong two bytes", "\xC0\xAF", false},
      {"overlong C1", "\xC1\xBF", false},
      {"overlong three bytes", "\xE0\x9F\xBF", false},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", false},
      {"high surrogate", "\xED\xA0\x80", false},
      {"low surrogate", "\xED\xBF\xBF", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"F5 lead", "\xF5\x80\x80\x80", false},
      {"FF byte", "\xFF", false},
      {"cut at the end", "a\xE2\x80", false},
      {"missing continuation",
       "\xE2\x80"
       "a",
       false},
      {"five-byte form", "\xF8\x88\x80\x80\x80", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.name;
  }
}

// The bytes end where the view ends, whatever byte follows in memory.
TEST(IsValidUtf8, LooksAtTheViewOnly) {
  const char bytes[] = "a\xFF";
  EXPECT_TRUE(IsValidUtf8(std::string_view(bytes, 1)));
  EXPECT_FALSE(IsValidUtf8(std::string_view(bytes, 2)));
}

}  // namespace
}  // namespace kestrova
