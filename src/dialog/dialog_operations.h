#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>

namespace kestrova {

// The task dialog's window, as its callback gets it when the window exists.
// Once the dialog has closed it names no window and the operations below do
// nothing.
using DialogHandle = HWND;

// The worker's three ways of driving the dialog. Each is a synchronous send
// handled on the dialog's thread; the answers are ignored.

// Moves the progress bar to position (a percentage, passed on unchanged).
void SetDialogProgress(DialogHandle window, std::uintptr_t position);

// Replaces the content text.
void SetDialogContent(DialogHandle window, std::string_view text);

// Clicks the Cancel button, which closes the dialog.
void CloseDialog(DialogHandle window);

}  // namespace kestrova
