// The parts of kestrova-channel that the end-to-end test reaches only in
// part: the channel merge's refusals, the address rule, key ids, shell words,
// the hand-over between threads, published names and the cache warnings.

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <string>
#include <vector>

#include "tools/channel/cache_warnings.h"
#include "tools/channel/channel_json.h"
#include "tools/channel/chunk_pipeline.h"
#include "tools/channel/make_channel.h"
#include "tools/channel/public_key_text.h"
#include "tools/channel/refusal_advice.h"
#include "tools/channel/web_root.h"
#include "worker/channel_document.h"

namespace kestrova::channel {
namespace {

TEST(PutInstallerEntry, NewDocumentReadsBack) {
  auto text = PutInstallerEntry(std::nullopt, "https://cdn/a.exe", "c2ln");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text.value(),
            "{\n  \"platforms\": {\n    \"windows-x86_64\": {\n      \"url\": "
            "\"https://cdn/a.exe\",\n      \"signature\": \"c2ln\"\n    }\n  }\n}\n");
  auto entry = ReadChannelDocument(text.value());
  ASSERT_TRUE(entry.ok());
  EXPECT_EQ(entry.value().url, "https://cdn/a.exe");
}

TEST(PutInstallerEntry, RefusesWhatItCannotMergeInto) {
  const std::pair<const char*, const char*> cases[] = {
      {"[1, 2]", "the document is not a JSON object"},
      {"{\"platforms\": []}", "its member platforms is not an object"},
      {"{\"platforms\": null}", "its member platforms is not an object"},
      {"{\"platforms\": {\"windows-x86_64\": \"x\"}}",
       "platforms → windows-x86_64 is not an object"},
      {"\xEF\xBB\xBF{}",
       "канал обновлений не читается (not one strict JSON text; fix it or "
       "remove the file)"},
      {"{\"a\": 1e400}",
       "канал обновлений не читается (not one strict JSON text; fix it or "
       "remove the file)"},
  };
  for (const auto& [existing, text] : cases) {
    auto result = PutInstallerEntry(std::string(existing), "https://cdn/a.exe", "c2ln");
    ASSERT_FALSE(result.ok()) << existing;
    EXPECT_EQ(result.failure().text, text) << existing;
  }
}

TEST(PutInstallerEntry, RefusesAnAddressThatIsNotUtf8) {
  auto result = PutInstallerEntry(std::nullopt, "https://cdn/\xFF.exe", "c2ln");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.failure().text, "the address is not valid UTF-8");
}

TEST(IsHttpsAddress, SchemeHostAndNoSpaces) {
  EXPECT_TRUE(IsHttpsAddress("https://cdn.kestrova.ai/a.exe"));
  EXPECT_TRUE(IsHttpsAddress("HTTPS://cdn.kestrova.ai/a.exe"));
  EXPECT_FALSE(IsHttpsAddress("http://cdn.kestrova.ai/a.exe"));
  EXPECT_FALSE(IsHttpsAddress("https://"));
  EXPECT_FALSE(IsHttpsAddress("https:///a.exe"));
  EXPECT_FALSE(IsHttpsAddress(" https://cdn/a.exe"));
  EXPECT_FALSE(IsHttpsAddress("https://cdn/a b.exe"));
  EXPECT_FALSE(IsHttpsAddress("ftp://cdn/a.exe"));
}

TEST(KeyIdText, LastByteFirstWithoutLeadingZerosAsMinisignWritesIt) {
  EXPECT_EQ(KeyIdText({0xDD, 0x5C, 0xFA, 0xF8, 0x4A, 0x3E, 0x0A, 0xE1}), "E10A3E4AF8FA5CDD");
  // A key of minisign's whose identifier begins with a 0 digit.
  const auto key = PublicKeyFromLine("RWRijb1e7ZiLDDEoVPPcJpUpXy1zDK+aLOAGuAJ/K3E+GIYy7u+QWnCu");
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(KeyIdOfPublicKey(key.value()), "C8B98ED5EBD8D62");  // as in its .pub file
  EXPECT_EQ(KeyIdText({0x5D, 0x18, 0xAE, 0x0D, 0x13, 0x34, 0x00, 0x00}), "34130DAE185D");
  EXPECT_EQ(KeyIdText({0x10, 0, 0, 0, 0, 0, 0, 0}), "10");
  EXPECT_EQ(KeyIdText({}), "0");
}

TEST(PublicKeyFromLine, RefusesOtherText) {
  EXPECT_EQ(PublicKeyFromLine("RWQ").failure().text, "Invalid encoding in minisign data");
  EXPECT_EQ(PublicKeyFromLine("RWQ\nRWQ").failure().text, "the key is more than one line");
}

TEST(ShellWord, QuotesOnlyWhenNeeded) {
  EXPECT_EQ(ShellWord("dist/KestrovaAI-install.exe"), "dist/KestrovaAI-install.exe");
  EXPECT_EQ(ShellWord("my file's.exe"), "'my file'\\''s.exe'");
  EXPECT_EQ(ShellWord(""), "''");
}

// Bytes pushed in pieces of every size reach the consumer whole and in order.
TEST(ChunkPipeline, KeepsOrderAcrossBlocks) {
  std::vector<std::uint8_t> data(ChunkPipeline::kBlockBytes * 9 + 12345);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 % 251);
  std::vector<std::uint8_t> seen;
  std::size_t largestBlock = 0;
  {
    ChunkPipeline pipeline([&](std::span<const std::uint8_t> block) -> Status {
      seen.insert(seen.end(), block.begin(), block.end());
      largestBlock = std::max(largestBlock, block.size());
      return kSuccess;
    });
    std::size_t offset = 0;
    for (std::size_t piece = 1; offset < data.size(); piece = piece * 3 % 100003 + 1) {
      const std::size_t count = std::min(piece, data.size() - offset);
      ASSERT_EQ(pipeline.Push({data.data() + offset, count}), kSuccess);
      offset += count;
    }
    ASSERT_EQ(pipeline.Finish(), kSuccess);
  }
  EXPECT_EQ(seen, data);
  EXPECT_EQ(largestBlock, ChunkPipeline::kBlockBytes);
}

// The consumer's failure comes back from Push and Finish; nothing reaches
// the consumer after it.
TEST(ChunkPipeline, StopsAtTheConsumersFailure) {
  std::atomic<int> calls = 0;
  ChunkPipeline pipeline([&](std::span<const std::uint8_t>) -> Status {
    ++calls;
    return Failure{"disk full"};
  });
  const std::vector<std::uint8_t> block(ChunkPipeline::kBlockBytes);
  Status pushed;
  for (int i = 0; i < 100 && !pushed; ++i) pushed = pipeline.Push(block);
  ASSERT_TRUE(pushed);
  EXPECT_EQ(pushed->text, "disk full");
  const Status finished = pipeline.Finish();
  ASSERT_TRUE(finished);
  EXPECT_EQ(finished->text, "disk full");
  EXPECT_EQ(calls, 1);
}

// Dropped unfinished, the pipeline ends its thread without consuming more.
TEST(ChunkPipeline, DropsWhatIsLeftWhenDestroyed) {
  std::atomic<int> calls = 0;
  {
    ChunkPipeline pipeline([&](std::span<const std::uint8_t>) -> Status {
      ++calls;
      return kSuccess;
    });
    const std::vector<std::uint8_t> half(ChunkPipeline::kBlockBytes / 2);
    ASSERT_EQ(pipeline.Push(half), kSuccess);  // never handed over
  }
  EXPECT_EQ(calls, 0);
}

TEST(ContentName, HashBeforeTheLastDotThatDoesNotBeginTheName) {
  const std::string hash = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  EXPECT_EQ(ContentName("setup.exe", hash), "setup-0123456789abcdef.exe");
  EXPECT_EQ(ContentName("setup.v2.exe", hash), "setup.v2-0123456789abcdef.exe");
  EXPECT_EQ(ContentName("installer", hash), "installer-0123456789abcdef");
  EXPECT_EQ(ContentName(".profile", hash), ".profile-0123456789abcdef");
  EXPECT_TRUE(IsContentNamed("setup-0123456789abcdef.exe", hash));
  EXPECT_FALSE(IsContentNamed("setup-0123456789abcde.exe", hash));
}

TEST(PublishedInstallerName, OnlyPlainNamesInDl) {
  const struct {
    const char* url;
    std::optional<std::string> name;
  } cases[] = {
      {"https://cdn.kestrova.ai/dl/setup-01.exe", "setup-01.exe"},
      {"https://cdn.kestrova.ai/a/b/dl/Kestrova%20AI%20%28x64%29.exe", "Kestrova AI (x64).exe"},
      {"https://cdn.kestrova.ai/dl/", std::nullopt},
      {"https://cdn.kestrova.ai/dl/..", std::nullopt},
      {"https://cdn.kestrova.ai/dl/%2E%2E", std::nullopt},
      {"https://cdn.kestrova.ai/dl/..%2Fsecret", std::nullopt},
      {"https://cdn.kestrova.ai/dl/a%00b", std::nullopt},
      {"https://cdn.kestrova.ai/dl/a%2", std::nullopt},
      {"https://cdn.kestrova.ai/dl/a.exe?x=1", std::nullopt},
      {"https://cdn.kestrova.ai/xdl/a.exe", std::nullopt},
      {"https://dl/a.exe", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(PublishedInstallerName(c.url), c.name) << c.url;
  EXPECT_EQ(PercentEncode("Kestrova AI (x64)~_.-é"), "Kestrova%20AI%20%28x64%29~_.-%C3%A9");
}

TEST(ChannelCacheWarnings, LongerThanFiveMinutesOrLeftToTheCaches) {
  const std::string kShort = "; keep it at 300 s or less";
  const std::string kLeft = "caches choose how long to keep it";
  const struct {
    std::vector<std::pair<std::string, std::string>> headers;
    std::string warning;  // empty: none
  } cases[] = {
      {{{"cache-control", "public, max-age=300"}}, ""},
      {{{"cache-control", "public, max-age=301"}},
       "channel document: Cache-Control allows caching for 301 s (max-age=301)" + kShort},
      {{{"cache-control", "public, max-age=3600, max-age=60"}},
       "channel document: Cache-Control allows caching for 3600 s (max-age=3600)" + kShort},
      {{{"cache-control", "max-age=60, S-MaxAge=\"86400\""}},
       "channel document: Cache-Control allows caching for 86400 s (s-maxage=86400)" + kShort},
      {{{"cache-control", "no-cache"}, {"expires", "Thu, 01 Jan 2037 00:00:00 GMT"}}, ""},
      {{{"date", "Thu, 01 Jan 2026 00:00:00 GMT"}, {"expires", "Thu, 01 Jan 2026 00:05:00 GMT"}},
       ""},
      {{{"date", "Thu, 01 Jan 2026 00:00:00 GMT"}, {"expires", "Thu, 01 Jan 2026 00:05:01 GMT"}},
       "channel document: Expires allows caching for 301 s" + kShort},
      {{{"expires", "0"}}, ""},
      {{}, "channel document: no Cache-Control or Expires header; " + kLeft},
      {{{"cache-control", "public"}},
       "channel document: Cache-Control gives no max-age and there is no Expires header; " + kLeft},
  };
  for (const auto& c : cases) {
    ResponseFacts response;
    response.headers = c.headers;
    const auto warnings = ChannelCacheWarnings(response, 0);
    EXPECT_EQ(warnings,
              c.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.warning})
        << (c.headers.empty() ? "" : c.headers.back().second);
  }
}

TEST(InstallerCacheWarning, CacheableAndNotContentNamed) {
  const std::string hash = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  const struct {
    const char* url;
    const char* cacheControl;  // null: none
    bool warned;
  } cases[] = {
      {"https://cdn/dl/setup-0123456789abcdef.exe", "public, max-age=31536000", false},
      {"https://cdn/setup.exe", nullptr, true},
      {"https://cdn/setup.exe?v=0123456789abcdef", "max-age=60", true},
      {"https://cdn/setup.exe", "max-age=0", false},
      {"https://cdn/setup.exe", "max-age=0, s-maxage=60", true},
      {"https://cdn/setup.exe", "private", false},
      {"https://cdn/setup.exe", "no-store", false},
  };
  for (const auto& c : cases) {
    ResponseFacts response;
    if (c.cacheControl != nullptr) response.headers = {{"cache-control", c.cacheControl}};
    EXPECT_EQ(InstallerCacheWarning(c.url, response, hash).has_value(), c.warned) << c.url;
  }
  ResponseFacts none;
  EXPECT_EQ(InstallerCacheWarning("https://cdn/setup.exe", none, hash),
            "installer: https://cdn/setup.exe is cacheable but not content-named (its name lacks "
            "0123456789abcdef, the first 16 hexadecimal digits of its SHA-256); a cache can "
            "serve old bytes under it");
}

}  // namespace
}  // namespace kestrova::channel
