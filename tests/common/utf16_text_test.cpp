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
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.input), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace kestrova
