#pragma once

#include <windows.h>

#include "launcher/install_outcome.h"

namespace kestrova {

// One whole update: channel, document, signature, file, download,
// verification. Everything it opened is released when it returns; the result
// is the outcome to store.
InstallOutcome RunUpdate(HWND window);

// The worker thread's entry: runs the update, stores its one outcome, then
// closes the dialog.
void RunUpdateWorker(HWND window);

}  // namespace kestrova
