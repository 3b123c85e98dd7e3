#pragma once

#include <windows.h>

namespace kestrova {

// Runs the task dialog modally on the calling (main) thread until it closes,
// whoever closes it: the user, or the worker once its run is over.
void RunProgressDialog();

// The dialog's callback: on TDN_CREATED it places the window and starts the
// worker; every notification is answered with S_OK.
HRESULT CALLBACK ProgressDialogCallback(HWND window, UINT notification, WPARAM wParam,
                                        LPARAM lParam, LONG_PTR referenceData);

// Starts the detached worker thread that drives the dialog `window`.
void StartWorker(HWND window);

}  // namespace kestrova
