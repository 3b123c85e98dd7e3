#include "dialog/place_on_monitor.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "dialog/monitor_choice.h"

namespace kestrova {
namespace {

// LF_SCREEN's value as UTF-16, or nothing when the variable is not set.
std::optional<std::u16string> ReadScreenVariable() {
  std::vector<wchar_t> buffer(32);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(L"LF_SCREEN", buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return std::nullopt;
      }
      return std::u16string();
    }
    if (length < buffer.size()) {
      return std::u16string(buffer.begin(), buffer.begin() + length);
    }
    // Too small: length is the size needed, terminator included. The value
    // may change in between, so ask again.
    buffer.resize(length);
  }
}

BOOL CALLBACK AppendMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) noexcept {
  reinterpret_cast<std::vector<HMONITOR>*>(list)->push_back(monitor);
  return TRUE;
}

ScreenRect FromRect(const RECT& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

// The work areas of all monitors, in the order the system reports them. A
// monitor whose information cannot be read counts with an all-zero area.
WorkAreaList ReadWorkAreas() {
  std::vector<HMONITOR> monitors;
  EnumDisplayMonitors(nullptr, nullptr, AppendMonitor, reinterpret_cast<LPARAM>(&monitors));
  WorkAreaList areas;
  areas.reserve(monitors.size());
  for (const HMONITOR monitor : monitors) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    areas.push_back(FromRect(info.rcWork));
  }
  return areas;
}

}  // namespace

static_assert(sizeof(MONITORINFO) == 40, "MONITORINFO without the device name");

void PlaceOnMonitor(HWND window) noexcept {
  const std::optional<std::u16string> value = ReadScreenVariable();
  if (!value) {
    return;
  }
  const std::optional<std::uint64_t> number = ParseMonitorNumber(*value);
  if (!number) {
    return;
  }
  WorkAreaList areas = ReadWorkAreas();
  SortWorkAreas(areas);
  const std::optional<ScreenRect> area = ChooseWorkArea(areas, *number);
  if (!area) {
    return;
  }
  RECT windowRect{};
  GetWindowRect(window, &windowRect);
  const WindowPosition position = CentreOnWorkArea(*area, FromRect(windowRect));
  SetWindowPos(window, nullptr, position.x, position.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

}  // namespace kestrova
