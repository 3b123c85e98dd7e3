#include "worker/fetch_failure_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace kestrova {
namespace {

TEST(FetchFailureText, Texts) {
  EXPECT_EQ(NoInternetText(12007), "нет доступа в интернет (код 12007)");
  EXPECT_EQ(NoInternetText(0), "нет доступа в интернет (код 0)");
  EXPECT_EQ(ServerUnreachableText(12029), "сервер kestrova.ai недоступен (код 12029)");
  EXPECT_EQ(ServerUnreachableText(UINT32_MAX), "сервер kestrova.ai недоступен (код 4294967295)");
  EXPECT_EQ(ServerAnsweredText(404), "сервер ответил 404");
  EXPECT_EQ(ServerAnsweredText(0), "сервер ответил 0");
  EXPECT_EQ(ConnectionBrokeText(12030), "связь оборвалась (код 12030)");
  EXPECT_EQ(ConnectionBrokeText(0xC0000022u), "связь оборвалась (код 3221225506)");
  EXPECT_EQ(std::string(kIncompleteBodyText), "файл скачался не целиком");
}

TEST(FetchFailureText, Completeness) {
  const struct {
    std::uint64_t received;
    std::uint32_t announced;
    bool complete;
  } cases[] = {
      {0, 0, true},
      {123, 0, true},
      {100, 100, true},
      {99, 100, false},
      {101, 100, false},
      {0, 1, false},
      {UINT32_MAX, UINT32_MAX, true},
      {(1ull << 32) + 5, 5, false},  // no wrap to 32 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BodyIsComplete(c.received, c.announced), c.complete)
        << c.received << " " << c.announced;
  }
}

}  // namespace
}  // namespace kestrova
