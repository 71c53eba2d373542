// Helpers of the user-interface tests: common controls, the message queue,
// the width of a control's text.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

inline void InitUiTest() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  done = true;
}

// Handles every message waiting for this thread (a quit message is dropped).
inline void DrainMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// The width of a text in a control's own font.
inline int TextExtent(HWND control, const std::string& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  SIZE size = {};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

// The control id of dialog, holding text, is at least as wide as its text,
// and its right edge is inside the dialog's client area.
inline bool TextFitsInDialog(HWND dialog, int id, const std::string& text) {
  HWND control = GetDlgItem(dialog, id);
  RECT client = {};
  GetClientRect(dialog, &client);
  RECT room = {};
  GetClientRect(control, &room);
  RECT place = {};
  GetWindowRect(control, &place);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  return TextExtent(control, text) <= room.right && place.right <= client.right;
}
