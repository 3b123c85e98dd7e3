#pragma once

#include <string>
#include <string_view>

#include "common/result.h"

namespace kestrova {

inline constexpr std::string_view kUnreadableChannelText = "канал обновлений не читается";
inline constexpr std::string_view kNoInstallerText = "в канале обновлений нет установщика";

// What the update channel says about the Windows x86-64 installer: its
// download address and the Base64 text of its minisign signature file, both
// exactly as the document gives them.
struct InstallerEntry {
  std::string url;
  std::string signature;
};

// Reads the update channel body: one strict JSON text (no byte-order mark,
// nesting at most 127 levels deep) whose member platforms → windows-x86_64
// holds the strings url and signature. Fails with "канал обновлений не
// читается" or "в канале обновлений нет установщика".
Result<InstallerEntry> ReadChannelDocument(std::string_view body);

}  // namespace kestrova
