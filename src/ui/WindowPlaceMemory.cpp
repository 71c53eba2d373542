#include "ui/WindowPlaceMemory.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

namespace {

BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  if (GetMonitorInfoA(monitor, &info)) {
    const RECT& work = info.rcWork;
    reinterpret_cast<std::vector<ScreenRect>*>(list)->push_back({work.left, work.top, work.right, work.bottom});
  }
  return TRUE;
}

// Enough of the title bar to take the window with the mouse: the frame and
// the caption in height, four caption heights of its width. Both follow the
// system's DPI.
TitleBarRule SystemTitleBarRule() {
  const int caption = GetSystemMetrics(SM_CYCAPTION);
  return {GetSystemMetrics(SM_CYFIXEDFRAME) + caption, 4 * caption};
}

}  // namespace

std::vector<ScreenRect> SystemMonitorWorkAreas() {
  std::vector<ScreenRect> areas;
  EnumDisplayMonitors(nullptr, nullptr, &AddWorkArea, reinterpret_cast<LPARAM>(&areas));
  return areas;
}

void WindowPlaceMemory::Use(Preferences* preferences, MonitorWorkAreas workAreas) {
  m_preferences = preferences;
  m_workAreas = workAreas ? std::move(workAreas) : MonitorWorkAreas(&SystemMonitorWorkAreas);
}

void WindowPlaceMemory::Restore(HWND hwnd) {
  int32_t left = 0;
  int32_t top = 0;
  if (m_preferences == nullptr || !m_preferences->GetWindowPosition(m_which, &left, &top)) return;
  RECT now = {};
  if (!GetWindowRect(hwnd, &now)) return;
  // The window as it is made, at the stored corner. That may be any value:
  // one too far right or down for the window's size to count in 32 bits is
  // as far off every monitor a little less far.
  const int32_t width = now.right - now.left;
  const int32_t height = now.bottom - now.top;
  ScreenRect stored;
  stored.left = std::min(left, INT32_MAX - std::max(width, 0));
  stored.top = std::min(top, INT32_MAX - std::max(height, 0));
  stored.right = stored.left + width;
  stored.bottom = stored.top + height;
  const std::optional<ScreenRect> placed = PlaceWindow(stored, m_workAreas(), SystemTitleBarRule());
  if (!placed) return;
  SetWindowPos(hwnd, nullptr, placed->left, placed->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void WindowPlaceMemory::OnMessage(HWND hwnd, UINT message) {
  switch (message) {
    case WM_MOVE:
      Note(hwnd);
      break;
    case WM_EXITSIZEMOVE:
      Note(hwnd);
      Store();
      break;
    case WM_DESTROY:
      Note(hwnd);
      Store();
      m_noted = false;  // the next window made starts afresh
      break;
    default:
      break;
  }
}

void WindowPlaceMemory::Note(HWND hwnd) {
  if (IsIconic(hwnd)) return;
  RECT rect = {};
  if (!GetWindowRect(hwnd, &rect)) return;
  m_topLeft = {rect.left, rect.top};
  m_noted = true;
}

void WindowPlaceMemory::Store() {
  if (!m_noted || m_preferences == nullptr) return;
  m_preferences->SetWindowPosition(m_which, m_topLeft.x, m_topLeft.y);
}
