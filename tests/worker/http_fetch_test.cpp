// HttpFetch against the loopback test servers that with_test_servers.py runs
// for this program: KESTROVA_TEST_HTTP_PORT (plain HTTP, requests logged to
// KESTROVA_TEST_HTTP_LOG), KESTROVA_TEST_HTTPS_PORT (TLS with a certificate
// of the test CA that the prefix trusts) and KESTROVA_TEST_UNTRUSTED_PORT
// (TLS with a certificate of a CA nobody trusts).
#include "worker/http_fetch.h"

#include <windows.h>

#include <winsock2.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dialog/dialog_operations_recorder.h"
#include "signature/signature_verifier.h"
#include "worker/channel_body.h"
#include "worker/installer_file.h"
#include "worker/test_minisign_signer.h"
#include "worker/worker_test_files.h"

namespace kestrova {
namespace {

constexpr std::uint64_t kMiB = 1048576;

std::string Port(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr ? value : "0";
}

std::string PlainUrl(const std::string& query) {
  return "http://127.0.0.1:" + Port("KESTROVA_TEST_HTTP_PORT") + "/body?" + query;
}

// What a sink saw, checked against what HttpFetch promises on each call.
struct Collected {
  std::vector<std::uint8_t> bytes;
  int calls = 0;
  std::uint32_t announced = 0;
  bool callsWereSound = true;
};

ChunkSink Collect(Collected& collected) {
  return [&collected](std::span<const std::uint8_t> chunk, std::uint64_t received,
                      std::uint32_t announced) -> Status {
    ++collected.calls;
    collected.bytes.insert(collected.bytes.end(), chunk.begin(), chunk.end());
    if (chunk.empty() || chunk.size() > 65536 || received != collected.bytes.size() ||
        (collected.calls > 1 && announced != collected.announced)) {
      collected.callsWereSound = false;
    }
    collected.announced = announced;
    return kSuccess;
  };
}

struct FetchCase {
  const char* name;
  std::string url;
  std::string failure;  // empty: success
  std::size_t bytes;    // what reaches the sink: the pattern's first bytes
  std::uint32_t announced;
  std::string windows = "";  // where failure is Wine's: what Windows documents instead
};

void ExpectFetch(const FetchCase& fetch) {
  SCOPED_TRACE(fetch.name);
  Collected collected;
  const Status result = HttpFetch(fetch.url, Collect(collected));
  if (fetch.failure.empty()) {
    EXPECT_EQ(result, kSuccess) << result->text;
  } else {
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->text == fetch.failure || result->text == fetch.windows) << result->text;
  }
  EXPECT_TRUE(collected.callsWereSound);
  EXPECT_EQ(collected.bytes.size(), fetch.bytes);
  EXPECT_TRUE(collected.bytes == test::Pattern(fetch.bytes));
  if (collected.calls > 0) {
    EXPECT_EQ(collected.announced, fetch.announced);
  }
}

TEST(HttpFetch, StatusAndLength) {
  const FetchCase cases[] = {
      {"200 with length", PlainUrl("size=200000"), "", 200000, 200000},
      {"200 of 3 MiB", PlainUrl("size=3145728"), "", 3 * kMiB, 3 * kMiB},
      {"200 without length", PlainUrl("size=150001&length=none"), "", 150001, 0},
      {"200 empty", PlainUrl("size=0"), "", 0, 0},
      {"200 empty without length", PlainUrl("size=0&length=none"), "", 0, 0},
      {"404", PlainUrl("status=404&size=100"), "сервер ответил 404", 0, 0},
      {"204", PlainUrl("status=204"), "сервер ответил 204", 0, 0},
      {"500", PlainUrl("status=500&size=10"), "сервер ответил 500", 0, 0},
      {"201", PlainUrl("status=201&size=10"), "сервер ответил 201", 0, 0},
      {"slow", PlainUrl("size=100000&rate=400000"), "", 100000, 100000},
  };
  for (const FetchCase& fetch : cases) ExpectFetch(fetch);
}

TEST(HttpFetch, BodyNotOfTheAnnouncedLength) {
  const FetchCase cases[] = {
      // The server ends cleanly before the announced length.
      {"shorter than announced", PlainUrl("size=100000&length=300000"), "файл скачался не целиком",
       100000, 300000},
      // WinINet stops reading at the announced length: the surplus never
      // reaches the sink, and what does reach it is complete.
      {"longer than announced", PlainUrl("size=300000&length=100000"), "", 100000, 100000},
  };
  for (const FetchCase& fetch : cases) ExpectFetch(fetch);
}

// The server resets the connection after four whole reads' worth of the
// body. Wine's: the socket's own code, WSAECONNRESET (10054), over plain
// HTTP; Windows: ERROR_INTERNET_CONNECTION_RESET (12031).
TEST(HttpFetch, ConnectionResetInTheBody) {
  const std::string windows = "связь оборвалась (код 12031)";
  const FetchCase cases[] = {
      {"with length", PlainUrl("size=1000000&reset=262144"), "связь оборвалась (код 10054)", 262144,
       1000000, windows},
      {"without length", PlainUrl("size=1000000&reset=262144&length=none"),
       "связь оборвалась (код 10054)", 262144, 0, windows},
  };
  for (const FetchCase& fetch : cases) ExpectFetch(fetch);
}

// The channel's sink takes a body up to the cap whole, and ends the fetch as
// soon as a body is announced or received longer.
TEST(HttpFetch, ChannelBodyUpToTheCap) {
  const std::size_t cap = kMaxChannelBodyBytes;
  const std::string atCap = "size=" + std::to_string(cap);
  const std::string overCap = "size=" + std::to_string(cap + 1);
  const struct {
    std::string query;
    bool fails;
    std::size_t most;  // the body's length (when it fails: at most)
  } cases[] = {
      {atCap, false, cap},
      {atCap + "&length=none", false, cap},
      {overCap, true, 0},
      {overCap + "&length=none", true, cap},
  };
  for (const auto& fetch : cases) {
    SCOPED_TRACE(fetch.query);
    std::string body;
    const Status result = HttpFetch(PlainUrl(fetch.query), ChannelBodySink(body));
    EXPECT_EQ(result ? result->text : "", fetch.fails ? "канал обновлений не читается" : "");
    if (fetch.fails) {
      EXPECT_LE(body.size(), fetch.most);
    } else {
      EXPECT_EQ(body.size(), fetch.most);
    }
    EXPECT_EQ(std::memcmp(body.data(), test::Pattern(body.size()).data(), body.size()), 0);
  }
}

TEST(HttpFetch, SinkFailureEndsTheFetchAtOnce) {
  int calls = 0;
  const Status result =
      HttpFetch(PlainUrl("size=1048576"),
                [&calls](std::span<const std::uint8_t>, std::uint64_t, std::uint32_t) -> Status {
                  ++calls;
                  return Failure{"не записать файл: Disk full. (os error 112)"};
                });
  ASSERT_TRUE(result);
  EXPECT_EQ(result->text, "не записать файл: Disk full. (os error 112)");  // not the length test
  EXPECT_EQ(calls, 1);
}

std::uint16_t ClosedPort() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  int size = sizeof(address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  closesocket(s);
  return ntohs(address.sin_port);
}

TEST(HttpFetch, AddressThatCannotBeOpenedNamesTheSitesHost) {
  const FetchCase cases[] = {
      {"empty", "", "сервер kestrova.ai недоступен (код 87)", 0, 0},
      {"not a url", "kestrova", "сервер kestrova.ai недоступен (код 12006)", 0, 0},
      {"closed port", "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x",
       "сервер kestrova.ai недоступен (код 12029)", 0, 0},
  };
  for (const FetchCase& fetch : cases) ExpectFetch(fetch);
}

TEST(HttpFetch, Https) {
  const std::string trusted = Port("KESTROVA_TEST_HTTPS_PORT");
  const std::string untrusted = Port("KESTROVA_TEST_UNTRUSTED_PORT");
  const FetchCase cases[] = {
      {"trusted", "https://localhost:" + trusted + "/body?size=300000", "", 300000, 300000},
      {"trusted 404", "https://localhost:" + trusted + "/body?status=404", "сервер ответил 404", 0,
       0},
      {"untrusted", "https://localhost:" + untrusted + "/body?size=1000",
       "сервер kestrova.ai недоступен (код 12045)", 0, 0},
      // A reset while a read waits for more of the body, under TLS. Wine's:
      // 12030; Windows: ERROR_INTERNET_CONNECTION_RESET (12031).
      {"reset", "https://localhost:" + trusted + "/body?size=1000000&reset=262144",
       "связь оборвалась (код 12030)", 262144, 1000000, "связь оборвалась (код 12031)"},
  };
  for (const FetchCase& fetch : cases) ExpectFetch(fetch);
}

TEST(HttpFetch, SendsTheUserAgentAndNoCacheHeaders) {
  Collected collected;
  ASSERT_EQ(HttpFetch(PlainUrl("size=10&marker=agent"), Collect(collected)), kSuccess);
  const char* log = std::getenv("KESTROVA_TEST_HTTP_LOG");
  ASSERT_NE(log, nullptr);
  std::ifstream file(log);
  std::string line;
  std::string request;
  while (std::getline(file, line)) {
    if (line.find("marker=agent") != std::string::npos) request = line;
  }
  EXPECT_NE(request.find("\"method\": \"GET\""), std::string::npos) << request;
  EXPECT_NE(request.find("\"User-Agent\": \"KestrovaAI-setup\""), std::string::npos) << request;
}

TEST(HttpFetch, LeavesNoHandleOpen) {
  Collected warmUp;
  ASSERT_EQ(HttpFetch(PlainUrl("size=1000"), Collect(warmUp)), kSuccess);
  DWORD before = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
  for (int i = 0; i < 200; ++i) {
    Collected collected;
    const Status result =
        HttpFetch(PlainUrl(i % 4 == 3 ? "status=404" : "size=1000"), Collect(collected));
    ASSERT_EQ(result.has_value(), i % 4 == 3) << i;
  }
  DWORD after = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_EQ(after, before);
}

TEST(HttpFetch, FeedsTheInstallerFile) {
  test::UseFreshTempFolder(L"http-fetch-test");
  const std::vector<std::uint8_t> body = test::Pattern(3 * kMiB);
  const test::TestSigner signer;
  Result<SignatureVerifier> verifier =
      SignatureVerifier::Create(signer.SignatureBase64(body), signer.PublicKeyBase64());
  ASSERT_TRUE(verifier.ok());
  Result<InstallerFile> file = CreateInstallerFile();
  ASSERT_TRUE(file.ok()) << file.failure().text;
  const std::wstring path = file.value().path;

  test::DialogRecorder recorder;
  EXPECT_EQ(HttpFetch(PlainUrl("size=3145728"),
                      InstallerChunkSink(recorder.window(), verifier.value(), file.value())),
            kSuccess);
  EXPECT_EQ(std::move(verifier.value()).Finish(), kSuccess);
  CloseInstallerFile(std::move(file.value()), true);
  EXPECT_TRUE(test::ReadWholeFile(path) == body);

  std::vector<std::wstring> texts;
  WPARAM lastPosition = 0;
  for (const test::RecordedMessage& message : recorder.messages()) {
    if (message.message == TDM_SET_ELEMENT_TEXT) texts.push_back(message.text);
    if (message.message == TDM_SET_PROGRESS_BAR_POS) lastPosition = message.wParam;
  }
  EXPECT_EQ(texts, (std::vector<std::wstring>{L"Скачано 0 из 3 МБ", L"Скачано 1 из 3 МБ",
                                              L"Скачано 2 из 3 МБ", L"Скачано 3 из 3 МБ"}));
  EXPECT_EQ(lastPosition, 100u);
  EXPECT_EQ(recorder.messages().size(), 8u);
}

}  // namespace
}  // namespace kestrova
