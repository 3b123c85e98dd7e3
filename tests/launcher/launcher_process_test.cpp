// The launcher's command line and outcome handling seen from outside, in
// processes of their own: exact command lines through CreateProcessW, exit
// codes, the failure box read and answered by window_probe, the installer
// started through the shell (start_marker) and the product page opened
// through the https handler of this prefix (url_recorder).
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/test_process.h"

namespace kestrova {
namespace {

using test_process::Child;
using test_process::FileExists;
using test_process::Hex;
using test_process::Quoted;
using test_process::ReadWholeFile;
using test_process::RunToEnd;
using test_process::WaitForFile;
using test_process::WindowsPath;

const std::wstring kSplitChild = WindowsPath(KESTROVA_SPLIT_CHILD);
const std::wstring kRunner = WindowsPath(KESTROVA_OUTCOME_RUNNER);
const std::wstring kProbe = WindowsPath(KESTROVA_WINDOW_PROBE);
const std::wstring kRecorder = WindowsPath(KESTROVA_URL_RECORDER);
const std::wstring kMarker = WindowsPath(KESTROVA_START_MARKER);
const std::wstring kWork = WindowsPath(KESTROVA_WORK_DIR);

constexpr DWORD kExitTimeoutMs = 20000;
// How long a process that should start nothing is given to show otherwise.
constexpr DWORD kQuietMs = 1500;

std::u16string Units(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

// What split_child prints for a given noRun and argument list.
std::string Expected(bool noRun, const std::vector<std::u16string>& arguments) {
  std::string out = noRun ? "noRun=1\n" : "noRun=0\n";
  for (const auto& argument : arguments) out += Hex(argument) + "\n";
  return out;
}

struct ChildCase {
  const char* name;
  std::wstring commandLine;
  std::vector<std::u16string> arguments;
  bool noRun;
};

TEST(SplitProcessCommandLine, ReadsTheRealCommandLine) {
  const ChildCase cases[] = {
      {"switch", L"setup.exe --no-run", {u"setup.exe", u"--no-run"}, true},
      {"switch partly quoted",
       L"setup.exe \"--no-\"run x",
       {u"setup.exe", u"--no-run", u"x"},
       true},
      {"switch as the first token", L"--no-run", {u"--no-run"}, true},
      {"escaped quotes", L"setup.exe \\\"--no-run\\\"", {u"setup.exe", u"\"--no-run\""}, false},
      {"upper case", L"setup.exe --NO-RUN", {u"setup.exe", u"--NO-RUN"}, false},
      {"quoted full path",
       L"\"C:\\Program Files\\Kestrova AI\\setup.exe\" first",
       {u"C:\\Program Files\\Kestrova AI\\setup.exe", u"first"},
       false},
      {"leading space", L" --no-run", {u"", u"--no-run"}, true},
      {"quotes and backslashes",
       L"p a\"\"b \"a\"\"b\" \\\\\\\"x \\\\\"x\" \"\"",
       {u"p", u"ab", u"a\"b", u"\\\"x", u"\\x", u""},
       false},
      {"trailing blanks", L"p x \t ", {u"p", u"x"}, false},
      {"unpaired surrogate",
       std::wstring(L"p --no-run") + wchar_t(0xD800),
       {u"p", std::u16string(u"--no-run") + char16_t(0xD800)},
       false},
      {"cyrillic", L"p \"установщик Kestrova\"", {u"p", u"установщик Kestrova"}, false},
  };
  for (const ChildCase& c : cases) {
    const auto run = RunToEnd(kSplitChild, c.commandLine);
    EXPECT_EQ(run.exitCode, std::optional<DWORD>(0)) << c.name;
    EXPECT_EQ(run.output, Expected(c.noRun, c.arguments)) << c.name;
  }
}

TEST(SplitProcessCommandLine, EmptyOrMissingCommandLineGivesTheModulePath) {
  for (const wchar_t* option : {L" --read-null", L" --read-empty"}) {
    const auto run = RunToEnd(kSplitChild, Quoted(kSplitChild) + option);
    EXPECT_EQ(run.exitCode, std::optional<DWORD>(0)) << option;
    EXPECT_EQ(run.output, Expected(false, {Units(kSplitChild)})) << option;
  }
}

// The https handler of this prefix records into a file of each test's own.
class OutcomeHandling : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateDirectoryW(kWork.c_str(), nullptr);
    const auto registered = RunToEnd(kRecorder, Quoted(kRecorder) + L" register https " +
                                                    Quoted(kWork + L"\\unassigned-urls.txt"));
    ASSERT_EQ(registered.exitCode, std::optional<DWORD>(0));
  }

  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    directory_ = kWork + L"\\" + std::wstring(name.begin(), name.end());
    CreateDirectoryW(directory_.c_str(), nullptr);
    recordFile_ = directory_ + L"\\urls.txt";
    DeleteFileW(recordFile_.c_str());
    SetEnvironmentVariableW(L"URL_RECORDER_FILE", recordFile_.c_str());
  }

  void TearDown() override { SetEnvironmentVariableW(L"URL_RECORDER_FILE", nullptr); }

  // A copy of start_marker under `name` in this test's folder; its marker removed.
  std::wstring PlaceInstaller(const std::wstring& name) {
    const std::wstring path = directory_ + L"\\" + name;
    DeleteFileW((path + L".started").c_str());
    EXPECT_TRUE(CopyFileW(kMarker.c_str(), path.c_str(), FALSE)) << GetLastError();
    return path;
  }

  static std::wstring RunnerLine(const std::wstring& arguments, bool noRun) {
    return Quoted(kRunner) + L" " + arguments + (noRun ? L" --no-run" : L"");
  }

  static std::optional<DWORD> RunRunner(const std::wstring& arguments, bool noRun) {
    return RunToEnd(kRunner, RunnerLine(arguments, noRun), kExitTimeoutMs).exitCode;
  }

  static test_process::Finished Probe(const std::wstring& arguments) {
    return RunToEnd(kProbe, Quoted(kProbe) + L" " + arguments);
  }

  // Starts the runner, reads the failure box and answers it; the runner's exit code.
  std::optional<DWORD> AnswerFailureBox(const std::wstring& arguments, const char* answer,
                                        const std::string& failureText) {
    Child runner(kRunner, RunnerLine(arguments, false));
    EXPECT_TRUE(runner.started());
    const auto text = Probe(L"box-text \"Kestrova AI\"");
    EXPECT_EQ(text.exitCode, std::optional<DWORD>(0));
    EXPECT_EQ(text.output, "Не получилось установить Kestrova AI: " + failureText +
                               ".\n\nОткрыть страницу программы на сайте?");
    const HWND box = FindWindowW(nullptr, L"Kestrova AI");
    EXPECT_NE(box, nullptr);
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
    // Yes and No, nothing else.
    const auto texts = Probe(L"texts \"Kestrova AI\"");
    std::size_t buttons = 0;
    for (std::size_t at = texts.output.find("Button\t"); at != std::string::npos;
         at = texts.output.find("Button\t", at + 1)) {
      ++buttons;
    }
    EXPECT_EQ(buttons, 2u) << texts.output;
    EXPECT_NE(texts.output.find("Button\t&Yes\n"), std::string::npos) << texts.output;
    EXPECT_NE(texts.output.find("Button\t&No\n"), std::string::npos) << texts.output;
    const std::string press = std::string("press \"Kestrova AI\" ") + answer;
    EXPECT_EQ(Probe(std::wstring(press.begin(), press.end())).exitCode, std::optional<DWORD>(0));
    return runner.Wait(kExitTimeoutMs);
  }

  void ExpectProductPageOpened() {
    ASSERT_TRUE(WaitForFile(recordFile_, 10000));
    Sleep(200);
    EXPECT_EQ(ReadWholeFile(recordFile_), "https://kestrova.ai/programma\n");
  }

  void ExpectNothingOpened() {
    Sleep(kQuietMs);
    EXPECT_FALSE(FileExists(recordFile_)) << ReadWholeFile(recordFile_);
  }

  std::wstring directory_;
  std::wstring recordFile_;
};

const std::string kRefused = "Windows не дал запустить установщик";

TEST_F(OutcomeHandling, EmptySlotEndsWithZero) {
  EXPECT_EQ(RunRunner(L"empty", false), std::optional<DWORD>(0));
  EXPECT_EQ(RunRunner(L"empty", true), std::optional<DWORD>(0));
  ExpectNothingOpened();
}

TEST_F(OutcomeHandling, ReadyStartsTheInstallerAndEndsWithZero) {
  const std::wstring installer = PlaceInstaller(L"KestrovaAI-install.exe");
  EXPECT_EQ(RunRunner(L"ready " + Quoted(installer), false), std::optional<DWORD>(0));
  ASSERT_TRUE(WaitForFile(installer + L".started", 10000));
  // The marker's first line: the path the installer was started by (ASCII here).
  const std::string marker = ReadWholeFile(installer + L".started");
  EXPECT_EQ(marker.substr(0, marker.find('\n')), std::string(installer.begin(), installer.end()));
}

TEST_F(OutcomeHandling, ReadyWithNoRunLeavesTheInstallerAndEndsWithZero) {
  const std::wstring installer = PlaceInstaller(L"KestrovaAI-install.exe");
  EXPECT_EQ(RunRunner(L"ready " + Quoted(installer), true), std::optional<DWORD>(0));
  Sleep(kQuietMs);
  EXPECT_FALSE(FileExists(installer + L".started"));
  EXPECT_TRUE(FileExists(installer));
}

TEST_F(OutcomeHandling, UnpairedSurrogateReachesTheShellAsReplacementCharacter) {
  const std::wstring installer = PlaceInstaller(L"KestrovaAI-\uFFFD.exe");
  const std::wstring stored = directory_ + L"\\KestrovaAI-" + wchar_t(0xD800) + L".exe";
  EXPECT_EQ(RunRunner(L"ready " + Quoted(stored), false), std::optional<DWORD>(0));
  EXPECT_TRUE(WaitForFile(installer + L".started", 10000));
}

TEST_F(OutcomeHandling, RefusedStartShowsTheBoxAndNoEndsWithOne) {
  // No such file: the shell refuses.
  const std::wstring missing = directory_ + L"\\KestrovaAI-install.exe";
  DeleteFileW(missing.c_str());
  EXPECT_EQ(AnswerFailureBox(L"ready " + Quoted(missing), "no", kRefused), std::optional<DWORD>(1));
  ExpectNothingOpened();
}

TEST_F(OutcomeHandling, RefusedStartOfANonProgramAndYesOpensTheProductPage) {
  // A file that is not a program and has no handler: the shell refuses too.
  const std::wstring document = directory_ + L"\\KestrovaAI-install.kestrova-unknown";
  const HANDLE file = CreateFileW(document.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(AnswerFailureBox(L"ready " + Quoted(document), "yes", kRefused),
            std::optional<DWORD>(1));
  ExpectProductPageOpened();
  EXPECT_TRUE(FileExists(document));  // a refused installer is not removed
}

TEST_F(OutcomeHandling, RefusedStartWithNoRunIsNotTriedAndEndsWithZero) {
  const std::wstring missing = directory_ + L"\\KestrovaAI-install.exe";
  DeleteFileW(missing.c_str());
  EXPECT_EQ(RunRunner(L"ready " + Quoted(missing), true), std::optional<DWORD>(0));
  ExpectNothingOpened();
}

TEST_F(OutcomeHandling, FailedShowsTheWorkersTextAndYesOpensTheProductPage) {
  EXPECT_EQ(AnswerFailureBox(L"failed \"сервер kestrova.ai не ответил\"", "yes",
                             "сервер kestrova.ai не ответил"),
            std::optional<DWORD>(1));
  ExpectProductPageOpened();
}

TEST_F(OutcomeHandling, FailedAndNoOpensNothing) {
  EXPECT_EQ(AnswerFailureBox(L"failed \"Signature verification failed\"", "no",
                             "Signature verification failed"),
            std::optional<DWORD>(1));
  ExpectNothingOpened();
}

TEST_F(OutcomeHandling, EnterAnswersYes) {
  EXPECT_EQ(AnswerFailureBox(L"failed \"файл не записан\"", "enter", "файл не записан"),
            std::optional<DWORD>(1));
  ExpectProductPageOpened();
}

TEST_F(OutcomeHandling, FailedWithNoRunShowsNothingAndEndsWithOne) {
  // A box would keep the runner waiting: it ends at once instead.
  EXPECT_EQ(RunRunner(L"failed \"сервер не ответил\"", true), std::optional<DWORD>(1));
  EXPECT_EQ(FindWindowW(nullptr, L"Kestrova AI"), nullptr);
  ExpectNothingOpened();
}

}  // namespace
}  // namespace kestrova
