#include "common/wide_string.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace kestrova {
namespace {

std::wstring Units(const WideString& text) { return std::wstring(text.c_str(), text.size()); }

TEST(WideString, ConvertsThroughTheSystem) {
  struct Case {
    const char* name;
    std::string utf8;
    std::wstring utf16;
  } const cases[] = {
      {"ascii", "KestrovaAI-setup", L"KestrovaAI-setup"},
      {"cyrillic", "Скачиваю Kestrova AI",
       L"\u0421\u043a\u0430\u0447\u0438\u0432\u0430\u044e Kestrova AI"},
      {"outside the BMP", "x\xF0\x9F\x98\x80y",
       std::wstring{L'x', wchar_t(0xD83D), wchar_t(0xDE00), L'y'}},
      {"inner zero", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
      {"ill-formed becomes U+FFFD",
       "a\xFF"
       "b",
       L"a\uFFFDb"},
  };
  for (const auto& c : cases) {
    const WideString text(c.utf8);
    EXPECT_EQ(Units(text), c.utf16) << c.name;
    EXPECT_EQ(text.c_str()[text.size()], L'\0') << c.name;
  }
}

TEST(WideString, InnerZeroEndsTheTextForWindows) {
  const WideString text(std::string("ab\0cd", 5));
  EXPECT_EQ(text.size(), 5u);
  EXPECT_EQ(lstrlenW(text.c_str()), 2);
}

TEST(WideString, EmptyTextHoldsOnlyTheTerminator) {
  const WideString text("");
  ASSERT_NE(text.c_str(), nullptr);
  EXPECT_EQ(text.size(), 0u);
  EXPECT_EQ(text.c_str()[0], L'\0');
  EXPECT_EQ(lstrlenW(text.c_str()), 0);
}

// Texts longer than 1 GiB reach the system in pieces of at most 1 GiB that
// end on a character boundary: a character across the boundary stays whole.
TEST(WideString, CharacterAcrossThePieceBoundaryStaysWhole) {
  constexpr std::size_t kPiece = std::size_t{1} << 30;
  std::string utf8(kPiece - 1, 'a');
  utf8 += "\xE2\x82\xAC";  // U+20AC, its first byte the piece's last
  utf8 += 'b';
  const WideString text(utf8);
  utf8 = std::string();  // a GiB less while the result is looked at
  ASSERT_EQ(text.size(), kPiece + 1);
  EXPECT_EQ(std::wstring(text.c_str() + kPiece - 2, 3), L"a\u20ACb");
  EXPECT_EQ(text.c_str()[kPiece + 1], L'\0');
}

}  // namespace
}  // namespace kestrova
