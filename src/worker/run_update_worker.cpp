#include "worker/run_update_worker.h"

#include <utility>

#include "dialog/dialog_operations.h"
#include "launcher/outcome_slot.h"
#include "signature/signature_verifier.h"
#include "worker/channel_address.h"
#include "worker/channel_body.h"
#include "worker/channel_document.h"
#include "worker/http_fetch.h"
#include "worker/installer_file.h"

namespace kestrova {
namespace {

InstallOutcome FailedWith(Failure failure) { return Failed{std::move(failure.text)}; }

// Steps 7 to 9: download into the file, verify, close (and delete unless
// verified). The file is closed whatever happens.
InstallOutcome DownloadAndVerify(HWND window, const std::string& url, SignatureVerifier& verifier,
                                 InstallerFile file) {
  Status verdict = HttpFetch(url, InstallerChunkSink(window, verifier, file));
  if (!verdict) {
    verdict = std::move(verifier).Finish();
  }
  std::wstring path = file.path;
  CloseInstallerFile(std::move(file), !verdict);
  if (verdict) return FailedWith(std::move(*verdict));
  return Ready{std::move(path)};
}

}  // namespace

InstallOutcome RunUpdate(HWND window) {
  std::string body;
  if (Status failure = HttpFetch(ChannelAddress(), ChannelBodySink(body))) {
    return FailedWith(std::move(*failure));
  }

  Result<InstallerEntry> entry = ReadChannelDocument(body);
  std::string().swap(body);
  if (!entry.ok()) return FailedWith(std::move(entry.failure()));

  Result<SignatureVerifier> verifier = SignatureVerifier::Create(entry.value().signature);
  if (!verifier.ok()) return FailedWith(std::move(verifier.failure()));

  Result<InstallerFile> file = CreateInstallerFile();
  if (!file.ok()) return FailedWith(std::move(file.failure()));

  return DownloadAndVerify(window, entry.value().url, verifier.value(), std::move(file.value()));
}

void RunUpdateWorker(HWND window) {
  // Everything of the run is released when RunUpdate returns; the store
  // releases the slot's lock before the dialog is asked to close.
  OutcomeSlot::Store(RunUpdate(window));
  CloseDialog(window);
}

}  // namespace kestrova
