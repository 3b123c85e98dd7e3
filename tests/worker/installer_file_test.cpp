#include "worker/installer_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dialog/dialog_operations_recorder.h"
#include "signature/signature_verifier.h"
#include "worker/system_error_text.h"
#include "worker/test_minisign_signer.h"
#include "worker/worker_test_files.h"

namespace kestrova {
namespace {

constexpr std::uint64_t kMiB = 1048576;

// Wine's messages for the codes these tests provoke.
constexpr char kAccessDenied[] = "Access denied. (os error 5)";
constexpr char kSharingViolation[] = "Sharing violation. (os error 32)";

class InstallerFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test::UseFreshTempFolder(L"installer-file-test");
    path_ = folder_ + L"\\KestrovaAI-install.exe";
    DeleteFileW(path_.c_str());
  }

  std::wstring folder_;
  std::wstring path_;
};

// Feeds data to sink in chunks of chunkSize, as HttpFetch hands them over.
Status Feed(const ChunkSink& sink, std::span<const std::uint8_t> data, std::size_t chunkSize,
            std::uint32_t announced) {
  std::uint64_t received = 0;
  while (!data.empty()) {
    const std::span<const std::uint8_t> chunk = data.first(std::min(chunkSize, data.size()));
    received += chunk.size();
    if (Status failed = sink(chunk, received, announced)) return failed;
    data = data.subspan(chunk.size());
  }
  return kSuccess;
}

TEST_F(InstallerFileTest, CreatesTheFileEmptyInTheTemporaryFolder) {
  test::WriteWholeFile(path_, "left over from an earlier run");
  ASSERT_EQ(test::FileSize(path_), 29);

  Result<InstallerFile> created = CreateInstallerFile();
  ASSERT_TRUE(created.ok()) << created.failure().text;
  EXPECT_EQ(created.value().path, path_);
  EXPECT_EQ(test::FileSize(path_), 0);

  // Others may read it meanwhile (scanners, the shell), but neither write nor
  // delete it; a second run cannot create it again.
  const struct {
    DWORD access;
    DWORD error;  // 0: opens
  } others[] = {{GENERIC_READ, 0}, {GENERIC_WRITE, 32}, {DELETE, 32}};
  for (const auto& [access, error] : others) {
    SCOPED_TRACE(access);
    HANDLE other =
        CreateFileW(path_.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other == INVALID_HANDLE_VALUE ? GetLastError() : 0, error);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  }
  EXPECT_FALSE(DeleteFileW(path_.c_str()));
  Result<InstallerFile> second = CreateInstallerFile();
  ASSERT_FALSE(second.ok());
  EXPECT_EQ(second.failure().text,
            std::string("не записать во временную папку: ") + kSharingViolation);

  CloseInstallerFile(std::move(created.value()), true);
  EXPECT_TRUE(test::FileExists(path_));
}

TEST_F(InstallerFileTest, CreationFailsWhileAnotherHandleHoldsTheFile) {
  test::WriteWholeFile(path_, "in use");
  HANDLE holder = CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  Result<InstallerFile> created = CreateInstallerFile();
  ASSERT_FALSE(created.ok());
  EXPECT_EQ(IoErrorText(32), kSharingViolation);
  EXPECT_EQ(created.failure().text,
            std::string("не записать во временную папку: ") + kSharingViolation);

  CloseHandle(holder);
  EXPECT_EQ(test::ReadWholeFile(path_).size(), 6u);  // untouched, not deleted
}

struct Shown {
  UINT message;
  WPARAM position;        // TDM_SET_PROGRESS_BAR_POS
  std::wstring text;      // TDM_SET_ELEMENT_TEXT
  std::int64_t fileSize;  // the file's size when the message came
  bool operator==(const Shown&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Shown& shown) {
  return out << std::hex << shown.message << std::dec << " " << shown.position << " "
             << shown.text.size() << " units, file " << shown.fileSize;
}

Shown Bar(WPARAM position, std::int64_t fileSize) {
  return {TDM_SET_PROGRESS_BAR_POS, position, L"", fileSize};
}
Shown Text(const wchar_t* text, std::int64_t fileSize) {
  return {TDM_SET_ELEMENT_TEXT, 0, text, fileSize};
}

struct ProgressCase {
  const char* name;
  std::size_t size;
  std::uint32_t announced;
  std::vector<Shown> shown;
};

TEST_F(InstallerFileTest, ShowsProgressOncePerWholeMiBBeforeEachWrite) {
  const std::int64_t c = 65536;  // the chunk size of a fetch
  const std::int64_t m = static_cast<std::int64_t>(kMiB);
  const ProgressCase cases[] = {
      {"3 MiB",
       3 * kMiB,
       3 * kMiB,
       {Bar(2, 0), Text(L"Скачано 0 из 3 МБ", 0), Bar(33, m - c), Text(L"Скачано 1 из 3 МБ", m - c),
        Bar(66, 2 * m - c), Text(L"Скачано 2 из 3 МБ", 2 * m - c), Bar(100, 3 * m - c),
        Text(L"Скачано 3 из 3 МБ", 3 * m - c)}},
      {"3.5 MiB",
       3670016,
       3670016,
       {Bar(1, 0), Text(L"Скачано 0 из 3 МБ", 0), Bar(28, m - c), Text(L"Скачано 1 из 3 МБ", m - c),
        Bar(57, 2 * m - c), Text(L"Скачано 2 из 3 МБ", 2 * m - c), Bar(85, 3 * m - c),
        Text(L"Скачано 3 из 3 МБ", 3 * m - c)}},
      {"under 1 MiB", 500000, 500000, {Bar(13, 0), Text(L"Скачано 0 из 0 МБ", 0)}},
      {"no length",
       2 * kMiB + 7,
       0,
       {Text(L"Скачано 0 МБ", 0), Text(L"Скачано 1 МБ", m - c), Text(L"Скачано 2 МБ", 2 * m - c)}},
      {"longer than announced",
       3 * kMiB,
       kMiB,
       {Bar(6, 0), Text(L"Скачано 0 из 1 МБ", 0), Bar(100, m - c),
        Text(L"Скачано 1 из 1 МБ", m - c), Bar(200, 2 * m - c),
        Text(L"Скачано 2 из 1 МБ", 2 * m - c), Bar(300, 3 * m - c),
        Text(L"Скачано 3 из 1 МБ", 3 * m - c)}},
  };
  const test::TestSigner signer;
  for (const ProgressCase& progress : cases) {
    SCOPED_TRACE(progress.name);
    const std::vector<std::uint8_t> body = test::Pattern(progress.size);
    Result<SignatureVerifier> verifier =
        SignatureVerifier::Create(signer.SignatureBase64(body), signer.PublicKeyBase64());
    ASSERT_TRUE(verifier.ok()) << verifier.failure().text;
    Result<InstallerFile> file = CreateInstallerFile();
    ASSERT_TRUE(file.ok()) << file.failure().text;

    const std::wstring path = path_;
    test::DialogRecorder recorder([path] { return test::FileSize(path); });
    {
      const ChunkSink sink = InstallerChunkSink(recorder.window(), verifier.value(), file.value());
      EXPECT_EQ(Feed(sink, body, 65536, progress.announced), kSuccess);
    }
    std::vector<Shown> shown;
    for (const test::RecordedMessage& message : recorder.messages()) {
      shown.push_back({message.message,
                       message.message == TDM_SET_PROGRESS_BAR_POS ? message.wParam : 0,
                       message.text, message.observed});
      if (message.message == TDM_SET_ELEMENT_TEXT) {
        EXPECT_EQ(message.wParam, 0u);
      }
    }
    EXPECT_EQ(shown, progress.shown);

    // Every byte was hashed and written, in order.
    EXPECT_EQ(std::move(verifier.value()).Finish(), kSuccess);
    CloseInstallerFile(std::move(file.value()), true);
    EXPECT_EQ(test::ReadWholeFile(path_), body);
  }
}

TEST_F(InstallerFileTest, AFailedWriteFailsWithTheErrorAndTheFileIsDeleted) {
  const test::TestSigner signer;
  const std::vector<std::uint8_t> body = test::Pattern(1000);
  Result<SignatureVerifier> verifier =
      SignatureVerifier::Create(signer.SignatureBase64(body), signer.PublicKeyBase64());
  ASSERT_TRUE(verifier.ok());
  Result<InstallerFile> file = CreateInstallerFile();
  ASSERT_TRUE(file.ok());
  // A handle that cannot write, in place of the one made for writing.
  file.value().file = FileHandle(CreateFileW(path_.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file.value().file);

  test::DialogRecorder recorder;
  const ChunkSink sink = InstallerChunkSink(recorder.window(), verifier.value(), file.value());
  EXPECT_EQ(IoErrorText(5), kAccessDenied);
  const Status failed = sink(body, body.size(), 1000);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->text, std::string("не записать файл: ") + kAccessDenied);
  // The progress of the chunk whose write failed was shown before.
  const auto messages = recorder.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].wParam, 100u);
  EXPECT_EQ(messages[1].text, L"Скачано 0 из 0 МБ");

  CloseInstallerFile(std::move(file.value()), false);
  EXPECT_FALSE(test::FileExists(path_));
}

TEST_F(InstallerFileTest, CloseKeepsOrDeletes) {
  for (const bool keep : {true, false}) {
    Result<InstallerFile> file = CreateInstallerFile();
    ASSERT_TRUE(file.ok());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.value().file.get(), "MZ", 2, &written, nullptr));
    CloseInstallerFile(std::move(file.value()), keep);
    EXPECT_EQ(test::FileExists(path_), keep);
    if (keep) {
      EXPECT_EQ(test::FileSize(path_), 2);
      // The handle is closed: the file can now be opened without sharing.
      HANDLE alone =
          CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      EXPECT_NE(alone, INVALID_HANDLE_VALUE);
      CloseHandle(alone);
    }
  }
}

TEST(SystemErrorText, MessagesOfTheSystemAndTheFallbacks) {
  const struct {
    std::uint32_t code;
    const char* text;
  } cases[] = {
      {5, kAccessDenied},
      {32, kSharingViolation},
      {112, "Disk full. (os error 112)"},
      {0, "Success. (os error 0)"},
      {0x80070005u, "Access denied. (os error -2147024891)"},
      // An NT status: looked up as 0xC0000022 in NTDLL.DLL, whose table has
      // no such message under Wine; the fallback names the code looked up.
      {0xD0000022u,
       "OS Error -1073741790 (FormatMessageW() returned error 317) (os error -805306334)"},
      {0x10000000u, "Success. (os error 268435456)"},
      {0x20001234u,
       "OS Error 536875572 (FormatMessageW() returned error 317) (os error 536875572)"},
      {0xFFFFFFFFu, "OS Error -268435457 (FormatMessageW() returned error 317) (os error -1)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IoErrorText(c.code), c.text) << c.code;
  }
}

}  // namespace
}  // namespace kestrova
