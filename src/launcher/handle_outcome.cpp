#include "launcher/handle_outcome.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "common/site.h"
#include "common/utf16_text.h"
#include "common/wide_string.h"
#include "launcher/install_outcome.h"
#include "launcher/outcome_slot.h"

namespace kestrova {
namespace {

constexpr std::string_view kRefusedStartText = "Windows не дал запустить установщик";
constexpr std::string_view kBoxTextStart = "Не получилось установить Kestrova AI: ";
constexpr std::string_view kBoxTextEnd = ".\n\nОткрыть страницу программы на сайте?";
constexpr std::string_view kProductPagePath = "/programma";

std::string ProductPageAddress() {
  std::string address = "https://";
  address += kSiteHost;
  address += kProductPagePath;
  return address;
}

// The path as Unicode text: each unpaired surrogate becomes U+FFFD.
std::string PathText(const std::wstring& path) {
  return Utf16ToUtf8(std::u16string(path.begin(), path.end()));
}

}  // namespace

bool OpenWithShell(std::string_view target) {
  const WideString verb("open");
  const WideString file(target);
  const HINSTANCE result =
      ShellExecuteW(nullptr, verb.c_str(), file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<std::intptr_t>(result) > 32;
}

void ShowFailureBox(std::string_view failureText) {
  std::string text;
  text.reserve(kBoxTextStart.size() + failureText.size() + kBoxTextEnd.size());
  text += kBoxTextStart;
  text += failureText;
  text += kBoxTextEnd;
  int answer;
  {
    const WideString boxText(text);
    const WideString caption(kProductName);
    answer = MessageBoxW(nullptr, boxText.c_str(), caption.c_str(), MB_ICONERROR | MB_YESNO);
  }
  if (answer == IDYES) OpenWithShell(ProductPageAddress());
}

void HandleOutcome(bool noRun) {
  std::optional<InstallOutcome> outcome = OutcomeSlot::Take();
  if (!outcome) return;
  std::string failureText;
  if (const Ready* ready = std::get_if<Ready>(&*outcome)) {
    if (noRun) return;
    if (OpenWithShell(PathText(ready->installerPath))) return;
    failureText = kRefusedStartText;
  } else {
    failureText = std::move(std::get<Failed>(*outcome).failureText);
  }
  if (!noRun) ShowFailureBox(failureText);
  ExitProcess(1);
}

}  // namespace kestrova
