#include "worker/channel_document.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "worker/channel_body.h"

namespace kestrova {
namespace {

const std::string kUnreadable = "канал обновлений не читается";
const std::string kNoInstaller = "в канале обновлений нет установщика";

// The outcome as one text: "url|signature" or the failure text.
std::string Read(std::string_view body) {
  const auto entry = ReadChannelDocument(body);
  return entry.ok() ? entry.value().url + "|" + entry.value().signature : entry.failure().text;
}

std::string Document(const std::string& entryMembers, const std::string& besidePlatforms = "") {
  return R"({"platforms":{"windows-x86_64":{)" + entryMembers + "}}" + besidePlatforms + "}";
}

const std::string kEntry = R"("url":"https://kestrova.ai/d/setup.exe","signature":"c2ln")";
const std::string kRead = "https://kestrova.ai/d/setup.exe|c2ln";

struct Case {
  const char* name;
  std::string body;
  std::string expected;
};

void ExpectAll(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.body), c.expected) << c.name;
  }
}

TEST(ReadChannelDocument, ReadsTheWindowsEntry) {
  ExpectAll({
      {"the two members", Document(kEntry), kRead},
      {"other members everywhere",
       R"({"version":"1.0","platforms":{"linux-x86_64":{"url":"l","signature":"ls"},)"
       R"("windows-x86_64":{"size":12,"url":"u","notes":[1,{"a":null}],"signature":"s"}},)"
       R"("extra":[true,false,null,-0.5e10]})",
       "u|s"},
      {"signature before url", Document(R"("signature":"s","url":"u")"), "u|s"},
      {"empty url and signature", Document(R"("url":"","signature":"")"), "|"},
      {"url not trimmed", Document(R"("url":"  https://x/ \t","signature":" s ")"),
       "  https://x/ \t| s "},
      {"escapes in the values",
       Document(R"("url":"a\/b\u0041\n\"\\","signature":"\u043f\ud83d\ude00")"),
       "a/bA\n\"\\|п\xF0\x9F\x98\x80"},
      {"escaped member names",
       R"({"pl\u0061tforms":{"windows\u002dx86_64":{"\u0075rl":"u","sign\u0061ture":"s"}}})",
       "u|s"},
      {"the later of two urls", Document(R"("url":"first","signature":"s","url":"second")"),
       "second|s"},
      {"the later of two entries",
       R"({"platforms":{"windows-x86_64":{"url":"a","signature":"b"},)"
       R"("windows-x86_64":{"url":"c","signature":"d"}}})",
       "c|d"},
      {"whitespace around the document", " \t\r\n" + Document(kEntry) + "\n\r\t ", kRead},
      {"whitespace inside", "{ \"platforms\" :\n{\"windows-x86_64\"\t:{" + kEntry + " } } }",
       kRead},
      {"UTF-8 in ignored members", Document(kEntry, R"(,"заметки":"установщик")"), kRead},
      {"inner zero escaped", Document(R"("url":"a\u0000b","signature":"s")"),
       std::string("a\0b|s", 5)},
  });
}

TEST(ReadChannelDocument, RefusesWhatIsNotOneStrictJsonText) {
  ExpectAll({
      {"empty body", "", kUnreadable},
      {"whitespace only", " \r\n\t", kUnreadable},
      {"byte-order mark", "\xEF\xBB\xBF" + Document(kEntry), kUnreadable},
      {"byte-order mark alone", "\xEF\xBB\xBF", kUnreadable},
      {"byte-order mark after whitespace", " \xEF\xBB\xBF" + Document(kEntry), kUnreadable},
      {"two documents", Document(kEntry) + Document(kEntry), kUnreadable},
      {"two values", "{} []", kUnreadable},
      {"anything after the value", Document(kEntry) + " x", kUnreadable},
      {"zero byte after the value", Document(kEntry) + std::string(1, '\0'), kUnreadable},
      {"zero byte and more after the value", Document(kEntry) + std::string(1, '\0') + "{}",
       kUnreadable},
      {"zero byte in a string", Document(kEntry, ",\"x\":\"a" + std::string(1, '\0') + "\""),
       kUnreadable},
      {"zero byte before the value", std::string(1, '\0') + Document(kEntry), kUnreadable},
      {"vertical tab around", "\v" + Document(kEntry), kUnreadable},
      {"form feed around", Document(kEntry) + "\f", kUnreadable},
      {"no-break space around", "\xC2\xA0" + Document(kEntry), kUnreadable},
      {"trailing comma in an object", Document(kEntry + ","), kUnreadable},
      {"trailing comma in an array", Document(kEntry, R"(,"a":[1,2,])"), kUnreadable},
      {"comment", "/* c */" + Document(kEntry), kUnreadable},
      {"line comment", Document(kEntry) + "// c", kUnreadable},
      {"single quotes", "{'platforms':{}}", kUnreadable},
      {"unquoted name", "{platforms:{}}", kUnreadable},
      {"cut off", Document(kEntry).substr(0, 30), kUnreadable},
      {"invalid UTF-8 in a string", Document(kEntry, ",\"x\":\"\xFF\""), kUnreadable},
      {"overlong UTF-8 in a string", Document(kEntry, ",\"x\":\"\xC0\xAF\""), kUnreadable},
      {"UTF-8 surrogate in a string", Document(kEntry, ",\"x\":\"\xED\xA0\x80\""), kUnreadable},
      {"raw control character in a string",
       Document(R"("url":"a)"
                "\t"
                R"(b","signature":"s")"),
       kUnreadable},
      {"raw line feed in a string", Document("\"url\":\"a\nb\",\"signature\":\"s\""), kUnreadable},
      {"unknown escape", Document(R"("url":"\x41","signature":"s")"), kUnreadable},
      {"1e400 in an ignored member", Document(kEntry, R"(,"size":1e400)"), kUnreadable},
      {"-1e400 in another platform",
       R"({"platforms":{"mac":{"n":-1e400},"windows-x86_64":{)" + kEntry + "}}}", kUnreadable},
      {"400-digit integer", Document(kEntry, ",\"n\":1" + std::string(400, '0')), kUnreadable},
      {"leading zero", Document(kEntry, R"(,"n":01)"), kUnreadable},
      {"NaN", Document(kEntry, R"(,"n":NaN)"), kUnreadable},
      {"plus sign", Document(kEntry, R"(,"n":+1)"), kUnreadable},
  });
}

TEST(ReadChannelDocument, FindsNoInstallerInReadableDocumentsOfAnotherShape) {
  ExpectAll({
      {"top-level array", "[" + Document(kEntry) + "]", kNoInstaller},
      {"top-level string", R"("platforms")", kNoInstaller},
      {"top-level number", "42", kNoInstaller},
      {"top-level null", "null", kNoInstaller},
      {"top-level true", "true", kNoInstaller},
      {"empty object", "{}", kNoInstaller},
      {"platforms missing", R"({"windows-x86_64":{)" + kEntry + "}}", kNoInstaller},
      {"platforms an array", R"({"platforms":[{"windows-x86_64":{)" + kEntry + "}}]}",
       kNoInstaller},
      {"platforms null", R"({"platforms":null})", kNoInstaller},
      {"platforms a string", R"({"platforms":"windows-x86_64"})", kNoInstaller},
      {"windows entry missing, others present",
       R"({"platforms":{"windows-aarch64":{)" + kEntry + R"(},"linux-x86_64":{)" + kEntry + "}}}",
       kNoInstaller},
      {"windows entry a string", R"({"platforms":{"windows-x86_64":"u"}})", kNoInstaller},
      {"windows entry an array", R"({"platforms":{"windows-x86_64":["u","s"]}})", kNoInstaller},
      {"url missing", Document(R"("signature":"s")"), kNoInstaller},
      {"signature missing", Document(R"("url":"u")"), kNoInstaller},
      {"url a number", Document(R"("url":1,"signature":"s")"), kNoInstaller},
      {"url true", Document(R"("url":true,"signature":"s")"), kNoInstaller},
      {"url an array", Document(R"("url":["u"],"signature":"s")"), kNoInstaller},
      {"url an object", Document(R"("url":{"href":"u"},"signature":"s")"), kNoInstaller},
      {"signature null", Document(R"("url":"u","signature":null)"), kNoInstaller},
      {"signature a number", Document(R"("url":"u","signature":0)"), kNoInstaller},
      {"both wrong", Document(R"("url":null,"signature":false)"), kNoInstaller},
      {"upper-case URL", Document(R"("URL":"u","signature":"s")"), kNoInstaller},
      {"capitalised Platforms", R"({"Platforms":{"windows-x86_64":{)" + kEntry + "}}}",
       kNoInstaller},
      {"platform key in other case", R"({"platforms":{"Windows-x86_64":{)" + kEntry + "}}}",
       kNoInstaller},
      {"name with a trailing space", Document(R"("url ":"u","signature":"s")"), kNoInstaller},
      {"later url not a string", Document(R"("url":"u","signature":"s","url":7)"), kNoInstaller},
  });
}

// That many empty arrays, each inside the one before.
std::string Nested(int levels) { return std::string(levels, '[') + std::string(levels, ']'); }

TEST(ReadChannelDocument, NestsAtMost127Levels) {
  // Top-level object, platforms, windows-x86_64: three levels; an array in
  // the entry brings the fourth, and so on.
  const auto inEntry = [](int depth) {
    return Document(kEntry + R"(,"deep":)" + Nested(depth - 3));
  };
  const auto inIgnored = [](int depth) {
    return Document(kEntry, R"(,"deep":)" + Nested(depth - 1));
  };
  const auto objects = [](int depth) {
    std::string value = "{}";
    for (int level = 2; level < depth; ++level) {
      value = R"({"a":)" + value + "}";
    }
    return Document(kEntry, R"(,"deep":)" + value);
  };
  ExpectAll({
      {"127 levels in the entry", inEntry(127), kRead},
      {"128 levels in the entry", inEntry(128), kUnreadable},
      {"127 levels in an ignored member", inIgnored(127), kRead},
      {"128 levels in an ignored member", inIgnored(128), kUnreadable},
      {"127 levels of objects", objects(127), kRead},
      {"128 levels of objects", objects(128), kUnreadable},
      {"127 levels in url's place", Document(R"("signature":"s","url":)" + Nested(124)),
       kNoInstaller},
      {"128 levels in url's place", Document(R"("signature":"s","url":)" + Nested(125)),
       kUnreadable},
      {"127 levels in a top-level array", Nested(127), kNoInstaller},
      {"128 levels in a top-level array", Nested(128), kUnreadable},
      {"far too deep and cut off", std::string(100000, '['), kUnreadable},
      {"far too deep and closed", Nested(100000), kUnreadable},
  });
}

// The channel fetch's sink takes a chunk while neither the announced nor the
// received length is past the cap; otherwise the body stays as it was.
TEST(ChannelBodySink, TakesChunksUpToTheCap) {
  struct SinkCase {
    const char* name;
    std::uint64_t received;
    std::uint32_t announced;
    std::string expected;  // the body after the chunk, or "failure|body"
  };
  const std::uint32_t cap = kMaxChannelBodyBytes;
  const std::string refused = kUnreadable + "|ab";
  const SinkCase cases[] = {
      {"nothing announced", 4, 0, "abcd"},
      {"announced the cap", 4, cap, "abcd"},
      {"announced one byte past the cap", 4, cap + 1, refused},
      {"received the cap", cap, 0, "abcd"},
      {"received one byte past the cap", cap + 1ULL, 0, refused},
      {"received past the announced cap", cap + 1ULL, cap, refused},
  };
  for (const SinkCase& c : cases) {
    std::string body = "ab";
    const ChunkSink sink = ChannelBodySink(body);
    const std::uint8_t chunk[] = {'c', 'd'};
    const Status result = sink(chunk, c.received, c.announced);
    EXPECT_EQ(result ? result->text + "|" + body : body, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace kestrova
