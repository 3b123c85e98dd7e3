#pragma once

#include <string_view>

namespace kestrova {

// Acts on what the run left in the OutcomeSlot, once, after the dialog has
// closed. Returns when the process is to end with exit code 0 (nothing
// stored; the installer started; or, with noRun, a verified installer left in
// place). Otherwise shows the failure box (not with noRun) and ends the
// process at once with exit code 1.
void HandleOutcome(bool noRun);

// Opens a target (UTF-8: a file or an address) with the shell's "open" verb,
// without waiting for it. True when the shell accepted it.
bool OpenWithShell(std::string_view target);

// The failure report: a message box with the failure text and the offer to
// open the product page, which Yes opens.
void ShowFailureBox(std::string_view failureText);

}  // namespace kestrova
