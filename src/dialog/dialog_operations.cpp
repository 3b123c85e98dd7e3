#include "dialog/dialog_operations.h"

#include <commctrl.h>

#include "common/wide_string.h"

namespace kestrova {

static_assert(TDM_SET_PROGRESS_BAR_POS == 0x46A && TDM_SET_ELEMENT_TEXT == 0x46C &&
              TDM_CLICK_BUTTON == 0x466 && TDE_CONTENT == 0 && IDCANCEL == 2);

void SetDialogProgress(DialogHandle window, std::uintptr_t position) {
  SendMessageW(window, TDM_SET_PROGRESS_BAR_POS, static_cast<WPARAM>(position), 0);
}

void SetDialogContent(DialogHandle window, std::string_view text) {
  const WideString wide(text);
  SendMessageW(window, TDM_SET_ELEMENT_TEXT, TDE_CONTENT, reinterpret_cast<LPARAM>(wide.c_str()));
}

void CloseDialog(DialogHandle window) { SendMessageW(window, TDM_CLICK_BUTTON, IDCANCEL, 0); }

}  // namespace kestrova
