// The parts of kestrova-channel that the end-to-end test reaches only in
// part: the channel merge's refusals, the address rule, key ids, shell words
// and the hand-over between threads.

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <string>
#include <vector>

#include "tools/channel/channel_json.h"
#include "tools/channel/chunk_pipeline.h"
#include "tools/channel/make_channel.h"
#include "tools/channel/public_key_text.h"
#include "tools/channel/refusal_advice.h"
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

}  // namespace
}  // namespace kestrova::channel
