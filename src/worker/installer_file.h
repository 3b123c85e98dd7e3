#pragma once

#include <windows.h>

#include <string>

#include "common/owner.h"
#include "common/result.h"
#include "dialog/dialog_operations.h"
#include "signature/signature_verifier.h"
#include "worker/http_fetch.h"

namespace kestrova {

// Owns a file handle (null, not INVALID_HANDLE_VALUE, when there is none).
using FileHandle = Owner<HANDLE, &CloseHandle>;

// The installer's file in the temporary folder, open for writing.
struct InstallerFile {
  std::wstring path;
  FileHandle file;
};

// Creates "KestrovaAI-install.exe" in the user's temporary folder, empty,
// replacing a file of that name; while it is open others may read it, but
// neither write nor delete it. Fails with "не записать во временную папку: "
// + the I/O error text (a sharing violation while another run writes it).
Result<InstallerFile> CreateInstallerFile();

// The sink of the installer fetch. For each chunk, in this order: feeds it to
// verifier, shows the progress in window once per whole MiB received, and
// writes it to file; a failed write gives "не записать файл: " + the I/O
// error text. verifier and file must outlive the sink.
ChunkSink InstallerChunkSink(DialogHandle window, SignatureVerifier& verifier, InstallerFile& file);

// Closes the file and, unless keep, deletes it (a refused deletion is not
// reported).
void CloseInstallerFile(InstallerFile file, bool keep);

}  // namespace kestrova
