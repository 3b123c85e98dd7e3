// window_probe against windows shaped like the program's: a task dialog with
// a progress bar and Cancel, and an error box with Yes and No.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tools/test_process.h"

namespace kestrova {
namespace {

using test_process::Child;
using test_process::Quoted;
using test_process::RunToEnd;
using test_process::WindowsPath;

const std::wstring kProbe = WindowsPath(KESTROVA_WINDOW_PROBE);
const std::wstring kSample = WindowsPath(KESTROVA_PROBE_SAMPLE);

test_process::Finished Probe(const std::wstring& arguments) {
  return RunToEnd(kProbe, Quoted(kProbe) + L" " + arguments);
}

TEST(WindowProbe, ReadsATaskDialogAndClicksCancel) {
  Child dialog(kSample, Quoted(kSample) +
                            L" task-dialog \"Kestrova AI\" \"Скачиваю Kestrova AI\" "
                            L"\"Подключаюсь к kestrova.ai\" 40");
  ASSERT_TRUE(dialog.started());
  EXPECT_EQ(Probe(L"wait \"Kestrova AI\"").exitCode, 0u);
  const auto texts = Probe(L"texts \"Kestrova AI\"");
  EXPECT_EQ(texts.exitCode, 0u);
  EXPECT_NE(texts.output.find("\tСкачиваю Kestrova AI\n"), std::string::npos) << texts.output;
  EXPECT_NE(texts.output.find("\tПодключаюсь к kestrova.ai\n"), std::string::npos) << texts.output;
  EXPECT_NE(texts.output.find("msctls_progress32\t40\n"), std::string::npos) << texts.output;
  EXPECT_EQ(Probe(L"press \"Kestrova AI\" cancel").exitCode, 0u);
  EXPECT_EQ(dialog.Wait(10000), std::optional<DWORD>(IDCANCEL));
  EXPECT_EQ(Probe(L"--timeout 3000 gone \"Kestrova AI\"").exitCode, 0u);
}

TEST(WindowProbe, ClicksAButtonByItsText) {
  Child dialog(kSample, Quoted(kSample) + L" task-dialog \"Probe click\" a b 0");
  ASSERT_TRUE(dialog.started());
  const auto texts = Probe(L"texts \"Probe click\"");
  EXPECT_NE(texts.output.find("msctls_progress32\t0\n"), std::string::npos) << texts.output;
  // The Cancel button's own text, as this system words it.
  std::string cancelText;
  std::size_t line = 0;
  while (line < texts.output.size()) {
    const std::size_t end = texts.output.find('\n', line);
    const std::string entry = texts.output.substr(line, end - line);
    if (entry.rfind("Button\t", 0) == 0) cancelText = entry.substr(7);
    line = end + 1;
  }
  ASSERT_FALSE(cancelText.empty()) << texts.output;
  const std::wstring wide(cancelText.begin(), cancelText.end());  // ASCII under this prefix
  EXPECT_EQ(Probe(L"click \"Probe click\" " + Quoted(wide)).exitCode, 0u);
  EXPECT_EQ(dialog.Wait(10000), std::optional<DWORD>(IDCANCEL));
}

struct BoxCase {
  const wchar_t* answer;
  DWORD exitCode;
};

TEST(WindowProbe, ReadsAndAnswersAMessageBox) {
  const BoxCase cases[] = {{L"yes", IDYES}, {L"no", IDNO}, {L"enter", IDYES}};
  for (const BoxCase& c : cases) {
    Child box(kSample, Quoted(kSample) + L" box \"Kestrova AI\" \"Первая строка.\n\nВторая?\"");
    ASSERT_TRUE(box.started());
    const auto text = Probe(L"box-text \"Kestrova AI\"");
    EXPECT_EQ(text.exitCode, 0u);
    EXPECT_EQ(text.output, "Первая строка.\n\nВторая?");
    const auto texts = Probe(L"texts \"Kestrova AI\"");
    EXPECT_NE(texts.output.find("Static\tПервая строка.\\n\\nВторая?\n"), std::string::npos)
        << texts.output;
    EXPECT_EQ(Probe(std::wstring(L"press \"Kestrova AI\" ") + c.answer).exitCode, 0u);
    EXPECT_EQ(box.Wait(10000), std::optional<DWORD>(c.exitCode)) << c.answer;
    EXPECT_EQ(Probe(L"--timeout 3000 gone \"Kestrova AI\"").exitCode, 0u);
  }
}

TEST(WindowProbe, ReportsAMissingWindowAndAWrongCommandLine) {
  EXPECT_EQ(Probe(L"--timeout 300 wait \"No such window\"").exitCode, 1u);
  EXPECT_EQ(Probe(L"--timeout 300 texts \"No such window\"").exitCode, 1u);
  EXPECT_EQ(Probe(L"--timeout 300 gone \"No such window\"").exitCode, 0u);
  EXPECT_EQ(Probe(L"wait").exitCode, 2u);
  EXPECT_EQ(Probe(L"press \"Kestrova AI\"").exitCode, 2u);
  EXPECT_EQ(Probe(L"--timeout x wait a").exitCode, 2u);
  EXPECT_EQ(Probe(L"jump a").exitCode, 2u);
}

}  // namespace
}  // namespace kestrova
