#include "worker/io_error_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kestrova {
namespace {

struct MessageCase {
  std::u16string message;
  std::optional<std::string> trimmed;
};

TEST(IoErrorText, TrimsTrailingWhitespaceAndRejectsBrokenUtf16) {
  const MessageCase cases[] = {
      {u"Access denied.\r\n", "Access denied."},
      {u"Access denied.", "Access denied."},
      {u"  lead kept \t\r\n \u3000\u00A0\u2009\u0085", "  lead kept"},
      {u"\r\n", ""},
      {u"", ""},
      {u"Отказано в доступе.\r\n", "Отказано в доступе."},
      {u"inner\r\nline\r\n", "inner\r\nline"},
      {u"pair \U0001F600\r\n", "pair \xF0\x9F\x98\x80"},
      {u"zero width \u200B", "zero width \xE2\x80\x8B"},  // not White_Space: kept
      {std::u16string(u"lone ") + char16_t{0xD800} + u"\r\n", std::nullopt},
      {std::u16string(u"lone ") + char16_t{0xDC00}, std::nullopt},
      {std::u16string(u"end ") + char16_t{0xD83D}, std::nullopt},
      {u"\U0001F600 at the start", "\xF0\x9F\x98\x80 at the start"},
      {std::u16string(u"last pair ") + char16_t{0xDBFF} + char16_t{0xDFFF},
       "last pair \xF4\x8F\xBF\xBF"},
      {std::u16string(u"lone last low ") + char16_t{0xDFFF}, std::nullopt},
      // The ends of the range U+2000..U+200A, and the units beside it.
      {u"x\u2000", "x"},
      {u"x\u200A", "x"},
      {u"x\u1FFF", "x\xE1\xBF\xBF"},
  };
  for (const MessageCase& c : cases) {
    EXPECT_EQ(TrimmedSystemMessage(c.message), c.trimmed);
  }
}

// The message ends where the view ends, whatever unit follows in memory.
TEST(IoErrorText, ChecksTheUtf16OfTheViewOnly) {
  const char16_t units[] = {u'a', char16_t{0xD800}, char16_t{0xDC00}};
  EXPECT_EQ(TrimmedSystemMessage(std::u16string_view(units, 1)), "a");
  EXPECT_EQ(TrimmedSystemMessage(std::u16string_view(units, 2)), std::nullopt);
}

TEST(IoErrorText, AssemblesTheTexts) {
  EXPECT_EQ(OsErrorText("Access denied.", 5), "Access denied. (os error 5)");
  EXPECT_EQ(OsErrorText("", 0), " (os error 0)");
  EXPECT_EQ(OsErrorText("x", static_cast<std::int32_t>(0xC0000022u)), "x (os error -1073741790)");
  EXPECT_EQ(OsErrorText("x", INT32_MIN), "x (os error -2147483648)");
  EXPECT_EQ(OsErrorText("x", INT32_MAX), "x (os error 2147483647)");
  EXPECT_EQ(FormatMessageFailedText(1234567, 317),
            "OS Error 1234567 (FormatMessageW() returned error 317)");
  EXPECT_EQ(FormatMessageFailedText(-1, 15100),
            "OS Error -1 (FormatMessageW() returned error 15100)");
  EXPECT_EQ(InvalidUtf16MessageText(42), "OS Error 42 (FormatMessageW() returned invalid UTF-16)");
  EXPECT_EQ(std::string(kWriteZeroText), "failed to write whole buffer");
  EXPECT_EQ(CreateFileFailureText("m (os error 32)"),
            "не записать во временную папку: m (os error 32)");
  EXPECT_EQ(WriteFileFailureText(kWriteZeroText), "не записать файл: failed to write whole buffer");
}

TEST(IoErrorText, RepeatsOnlyInterruptedWrites) {
  const struct {
    std::uint32_t code;
    bool repeat;
  } cases[] = {{10004, true}, {995, false}, {0, false}, {5, false}, {112, false}, {1117, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsInterruptedWrite(c.code), c.repeat) << c.code;
  }
}

}  // namespace
}  // namespace kestrova
