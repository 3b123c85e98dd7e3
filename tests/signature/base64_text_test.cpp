#include "signature/base64_text.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

struct Base64Case {
  const char* name;
  std::string text;
  std::optional<std::string> expected;  // no value: "подпись не читается"
};

TEST(DecodeBase64Text, DecodesCanonicalBase64OfUtf8AndRefusesTheRest) {
  const Base64Case cases[] = {
      {"empty", "", ""},
      {"whitespace only", " \t\r\n", ""},
      {"one group", "YWJj", "abc"},
      {"one padding character", "YWI=", "ab"},
      {"two padding characters", "YQ==", "a"},
      {"plus and slash", "fn4+Pj8/", "~~>>??"},
      {"cyrillic", "0L/QvtC00L/QuNGB0Yw=", "подпись"},
      {"leading and trailing ASCII whitespace", "\t\n\v\f\r YWJj \r\n\f\v\t", "abc"},
      {"U+0085 and U+00A0", "\xC2\x85\xC2\xA0YWJj\xC2\xA0\xC2\x85", "abc"},
      {"U+1680, U+2000 and U+200A", "\xE1\x9A\x80\xE2\x80\x80YWJj\xE2\x80\x8A", "abc"},
      {"U+2028, U+2029, U+202F", "\xE2\x80\xA8\xE2\x80\xA9YWJj\xE2\x80\xAF", "abc"},
      {"U+205F and U+3000", "\xE2\x81\x9FYWJj\xE3\x80\x80", "abc"},
      {"missing padding", "YWI", std::nullopt},
      {"missing both padding characters", "YQ", std::nullopt},
      {"one padding of two", "YQ=", std::nullopt},
      {"padding in the middle", "YQ==YWJj", std::nullopt},
      {"extra padding", "YWJj=", std::nullopt},
      {"three padding characters", "Y===", std::nullopt},
      {"only padding", "====", std::nullopt},
      {"length not a multiple of four", "YWJjZ", std::nullopt},
      {"set trailing bits before one padding", "YWJ=", std::nullopt},
      {"set trailing bits before two padding", "YR==", std::nullopt},
      {"inner space", "YWJj YWJj", std::nullopt},
      {"inner line break", "YWJj\nYWJj", std::nullopt},
      {"inner CRLF", "YWJj\r\nYWJj", std::nullopt},
      {"URL-safe alphabet", "-_-_", std::nullopt},
      {"zero width space is not whitespace", "\xE2\x80\x8BYWJj", std::nullopt},
      {"byte-order mark is not whitespace", "\xEF\xBB\xBFYWJj", std::nullopt},
      {"U+180E is not whitespace", "YWJj\xE1\xA0\x8E", std::nullopt},
      {"inner zero", std::string("YW\0j", 4), std::nullopt},
      {"decodes to invalid UTF-8", "/w==", std::nullopt},
      {"decodes to an overlong form", "wIA=", std::nullopt},
      {"decodes to a surrogate", "7aCA", std::nullopt},
      {"decodes to a cut sequence", "0A==", std::nullopt},
      {"decodes to a zero byte", "AA==", std::string(1, '\0')},
      // libsodium alone reads every byte from 0x80 up as "/": "YWJ/" is "ab\x7F".
      {"byte 0x80 in a digit's place", "YWJ\x80", std::nullopt},
      {"byte 0x85 in a digit's place", "YWJ\x85", std::nullopt},
      {"byte 0xFF in a digit's place", "YWJ\xFF", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto result = DecodeBase64Text(c.text);
    if (c.expected) {
      ASSERT_TRUE(result.ok()) << c.name;
      EXPECT_EQ(result.value(), *c.expected) << c.name;
    } else {
      ASSERT_FALSE(result.ok()) << c.name;
      EXPECT_EQ(result.failure().text, "подпись не читается") << c.name;
    }
  }
}

}  // namespace
}  // namespace kestrova
