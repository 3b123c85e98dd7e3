#pragma once

#include <windows.h>

namespace kestrova {

// Centres the window on the work area of the monitor that LF_SCREEN numbers
// (1 is the leftmost, then left to right and top to bottom; 0 names the first
// too). Without the variable, with a value that is not a plain number or with
// a number beyond the monitors, the window stays where it is. Never fails
// outwards; the window keeps its size and Z order.
void PlaceOnMonitor(HWND window) noexcept;

}  // namespace kestrova
