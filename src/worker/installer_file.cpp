#include "worker/installer_file.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>

#include "worker/installer_path.h"
#include "worker/io_error_text.h"
#include "worker/progress_text.h"
#include "worker/system_error_text.h"

namespace kestrova {
namespace {

using GetTempPath2Function = DWORD(WINAPI*)(DWORD, LPWSTR);

// The newer call where the system has it (it gives SYSTEM processes a folder
// of their own), the older one otherwise.
GetTempPath2Function TempPathFunction() {
  if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
    if (FARPROC found = GetProcAddress(kernel, "GetTempPath2W")) {
      return reinterpret_cast<GetTempPath2Function>(reinterpret_cast<void (*)()>(found));
    }
  }
  return &GetTempPathW;
}

std::wstring TempFolder() {
  const GetTempPath2Function getTempPath = TempPathFunction();
  std::wstring folder(MAX_PATH + 1, L'\0');
  DWORD length = getTempPath(static_cast<DWORD>(folder.size()), folder.data());
  if (length > folder.size()) {
    folder.resize(length);
    length = getTempPath(static_cast<DWORD>(folder.size()), folder.data());
  }
  folder.resize(length <= folder.size() ? length : 0);
  return folder;
}

std::wstring InstallerPath() {
  const std::wstring folder = TempFolder();
  const std::u16string path = InstallerPathIn(
      std::u16string_view(reinterpret_cast<const char16_t*>(folder.data()), folder.size()));
  return std::wstring(reinterpret_cast<const wchar_t*>(path.data()), path.size());
}

// Writes the whole chunk: the rest again after a partial write, the same
// again after an interrupted one.
Status WriteAll(HANDLE file, std::span<const std::uint8_t> chunk) {
  while (!chunk.empty()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(chunk.size(), MAXDWORD));
    DWORD written = 0;
    if (!WriteFile(file, chunk.data(), piece, &written, nullptr)) {
      const DWORD error = GetLastError();
      if (IsInterruptedWrite(error)) continue;
      return Failure{WriteFileFailureText(IoErrorText(error))};
    }
    if (written == 0) return Failure{WriteFileFailureText(kWriteZeroText)};
    chunk = chunk.subspan(std::min<std::size_t>(written, chunk.size()));
  }
  return kSuccess;
}

}  // namespace

Result<InstallerFile> CreateInstallerFile() {
  InstallerFile installer;
  installer.path = InstallerPath();
  // Others may only read it while this run writes it: a second run started
  // meanwhile can neither empty it nor delete it, and fails at this point.
  HANDLE file = CreateFileW(installer.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return Failure{CreateFileFailureText(IoErrorText(GetLastError()))};
  }
  installer.file = FileHandle(file);
  return installer;
}

ChunkSink InstallerChunkSink(DialogHandle window, SignatureVerifier& verifier,
                             InstallerFile& file) {
  return [window, &verifier, &file, shownMiB = kNothingShownMiB](
             std::span<const std::uint8_t> chunk, std::uint64_t received,
             std::uint32_t announced) mutable -> Status {
    verifier.Update(chunk);
    if (auto update = NextProgressUpdate(shownMiB, received, announced)) {
      if (update->position)
        SetDialogProgress(window, static_cast<std::uintptr_t>(*update->position));
      SetDialogContent(window, update->text);
    }
    return WriteAll(file.file.get(), chunk);
  };
}

void CloseInstallerFile(InstallerFile file, bool keep) {
  file.file.reset();
  if (!keep) DeleteFileW(file.path.c_str());
}

}  // namespace kestrova
