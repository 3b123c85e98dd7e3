#include "common/utf16_text.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

struct Utf16Case {
  const char* name;
  std::u16string input;
  std::string expected;
};

TEST(Utf16ToUtf8, ConvertsAndReplacesUnpairedSurrogates) {
  const Utf16Case cases[] = {
      {"empty", u"", ""},
      {"ascii path", u"C:\\Temp\\KestrovaAI-install.exe", "C:\\Temp\\KestrovaAI-install.exe"},
      {"cyrillic", u"Скачано", "Скачано"},
      {"pair outside the BMP", u"a\U0001F600b",
       "a\xF0\x9F\x98\x80"
       "b"},
      {"lone high", std::u16string(u"a") + char16_t(0xD800) + u"b",
       "a\xEF\xBF\xBD"
       "b"},
      {"lone low", std::u16string(u"a") + char16_t(0xDC00), "a\xEF\xBF\xBD"},
      {"high at the end", std::u16string(u"x") + char16_t(0xDBFF), "x\xEF\xBF\xBD"},
      {"two highs then low",
       {char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)},
       "\xEF\xBF\xBD\xF0\x90\x80\x80"},
      {"low before high", {char16_t(0xDC00), char16_t(0xD800)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"inner zero", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {"largest BMP unit", {char16_t(0xFFFF)}, "\xEF\xBF\xBF"},
      // The first and last code point of each UTF-8 length.
      {"largest one-byte", u"\u007F", "\x7F"},
      {"smallest two-byte", u"\u0080", "\xC2\x80"},
      {"largest two-byte", u"\u07FF", "\xDF\xBF"},
      {"smallest three-byte", u"\u0800", "\xE0\xA0\x80"},
      {"smallest four-byte", u"\U00010000", "\xF0\x90\x80\x80"},
      {"largest four-byte", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      // Surrogates at the edges of their ranges and of the text.
      {"pair at the very start", u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"lone last low", {char16_t(0xDFFF)}, "\xEF\xBF\xBD"},
      {"units beside the surrogates",
       {char16_t(0xD7FF), char16_t(0xE000)},
       "\xED\x9F\xBF\xEE\x80\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.input), c.expected) << c.name;
  }
}

// The text ends where the view ends, whatever unit follows in memory.
TEST(Utf16ToUtf8, HighSurrogateAtTheEndOfAViewStaysUnpaired) {
  const char16_t units[] = {u'a', char16_t(0xD800), char16_t(0xDC00)};
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(units, 2)), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(units, 3)), "a\xF0\x90\x80\x80");
}

}  // namespace
}  // namespace kestrova
