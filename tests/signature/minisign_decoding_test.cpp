#include <gtest/gtest.h>

#include "signature/minisign_lines.h"
#include "signature/minisign_public_key.h"
#include "signature/minisign_signature.h"
#include "signature_vectors.h"

namespace kestrova {
namespace {

using test::ToBase64;

TEST(FirstLines, SplitsAtLineFeedsWithOrWithoutCarriageReturn) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t count;
    std::vector<std::string_view> expected;
  };
  const Case cases[] = {
      {"empty", "", 4, {}},
      {"one line without end", "a", 4, {"a"}},
      {"final line feed starts no line", "a\nb\n", 4, {"a", "b"}},
      {"empty lines", "\n\n", 4, {"", ""}},
      {"CRLF", "a\r\nb\r\n", 4, {"a", "b"}},
      {"mixed", "a\r\nb\nc", 4, {"a", "b", "c"}},
      {"bare CR stays", "a\rb\r", 4, {"a\rb\r"}},
      {"CR before CR LF", "a\r\r\n", 4, {"a\r"}},
      {"at most count", "1\n2\n3\n4\n5\n6\n", 4, {"1", "2", "3", "4"}},
      {"two of three", "x\ny\nz", 2, {"x", "y"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FirstLines(c.text, c.count), c.expected) << c.name;
  }
}

std::string KeyLine(char a, char b) {
  std::string bytes = {a, b};
  bytes += "12345678";               // key id
  bytes += std::string(32, '\x07');  // key
  return ToBase64(bytes);
}

TEST(DecodeMinisignPublicKey, ReadsTheKeyLine) {
  const auto key = DecodeMinisignPublicKey("untrusted comment: anything\n" + KeyLine('E', 'd'));
  ASSERT_TRUE(key.ok()) << key.failure().text;
  EXPECT_EQ(std::string(key.value().keyId.begin(), key.value().keyId.end()), "12345678");
  EXPECT_EQ(key.value().key,
            (std::array<std::uint8_t, 32>{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
                                          7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}));

  struct Case {
    const char* name;
    std::string text;
    std::string expected;  // "" = decodes
  };
  const std::string invalid = "Invalid encoding in minisign data";
  const std::string unsupported =
      "This signature algorithm is not supported by this implementation";
  const Case cases[] = {
      {"Ed", "c\n" + KeyLine('E', 'd') + "\n", ""},
      {"ED", "c\n" + KeyLine('E', 'D'), ""},
      {"empty first line", "\n" + KeyLine('E', 'd'), ""},
      {"no text", "", invalid},
      {"one line", "c\n", invalid},
      {"key line empty", "c\n\n", invalid},
      {"key line not Base64", "c\n!!!!\n", invalid},
      {"key line of 43 bytes", "c\n" + ToBase64(std::string(43, 'E')), invalid},
      {"key line with a byte 0xFF for its last digit",
       "c\n" + KeyLine('E', 'd').substr(0, 55) + "\xFF", invalid},
      {"key only, no comment line", KeyLine('E', 'd'), invalid},
      {"algorithm Ee", "c\n" + KeyLine('E', 'e'), unsupported},
      {"algorithm ed", "c\n" + KeyLine('e', 'd'), unsupported},
      {"algorithm zero", "c\n" + KeyLine('\0', '\0'), unsupported},
  };
  for (const auto& c : cases) {
    const auto result = DecodeMinisignPublicKey(c.text);
    EXPECT_EQ(result.ok() ? "" : result.failure().text, c.expected) << c.name;
  }
}

std::string SignatureLine(char a, char b) {
  std::string bytes = {a, b};
  bytes += "abcdefgh";
  bytes += std::string(64, '\x11');
  return ToBase64(bytes);
}

const std::string kGlobalLine = ToBase64(std::string(64, '\x22'));

TEST(DecodeMinisignSignature, ReadsTheFourLines) {
  const auto decoded =
      DecodeMinisignSignature("untrusted: u\r\n" + SignatureLine('E', 'D') +
                              "\r\ntrusted comment: t ü \r\n" + kGlobalLine + "\r\nignored\n");
  ASSERT_TRUE(decoded.ok()) << decoded.failure().text;
  const MinisignSignature& s = decoded.value();
  EXPECT_EQ(s.untrustedComment, "untrusted: u");
  EXPECT_TRUE(s.prehashed);
  EXPECT_EQ(std::string(s.keyId.begin(), s.keyId.end()), "abcdefgh");
  EXPECT_EQ(s.signature[0], 0x11);
  EXPECT_EQ(s.signature[63], 0x11);
  EXPECT_EQ(s.trustedComment, "t ü ");
  EXPECT_EQ(s.globalSignature[0], 0x22);

  struct Case {
    const char* name;
    std::string text;
    std::string expected;  // "" = decodes; "legacy" = decodes as legacy
  };
  const std::string invalid = "Invalid encoding in minisign data";
  const std::string unsupported =
      "This signature algorithm is not supported by this implementation";
  const std::string sig = SignatureLine('E', 'D');
  const Case cases[] = {
      {"prehashed", "u\n" + sig + "\ntrusted comment: x\n" + kGlobalLine + "\n", ""},
      {"legacy", "u\n" + SignatureLine('E', 'd') + "\ntrusted comment: x\n" + kGlobalLine,
       "legacy"},
      {"empty trusted comment", "u\n" + sig + "\ntrusted comment: \n" + kGlobalLine, ""},
      {"no text", "", invalid},
      {"three lines", "u\n" + sig + "\ntrusted comment: x\n", invalid},
      {"global line empty", "u\n" + sig + "\ntrusted comment: x\n\n", invalid},
      {"prefix without the space", "u\n" + sig + "\ntrusted comment:\n" + kGlobalLine, invalid},
      {"prefix in other case", "u\n" + sig + "\nTrusted comment: x\n" + kGlobalLine, invalid},
      {"signature line of 75 bytes",
       "u\n" + ToBase64(std::string("ED") + std::string(73, 'x')) + "\ntrusted comment: x\n" +
           kGlobalLine,
       invalid},
      {"global line of 65 bytes",
       "u\n" + sig + "\ntrusted comment: x\n" + ToBase64(std::string(65, 'x')), invalid},
      {"global line with a trailing CR at the very end",
       "u\n" + sig + "\ntrusted comment: x\n" + kGlobalLine + "\r", invalid},
      {"algorithm Ex", "u\n" + SignatureLine('E', 'x') + "\ntrusted comment: x\n" + kGlobalLine,
       unsupported},
  };
  for (const auto& c : cases) {
    const auto result = DecodeMinisignSignature(c.text);
    const std::string verdict =
        result.ok() ? (result.value().prehashed ? "" : "legacy") : result.failure().text;
    EXPECT_EQ(verdict, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace kestrova
