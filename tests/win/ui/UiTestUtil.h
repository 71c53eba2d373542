// Helpers of the user-interface tests: common controls, the message queue.
#pragma once

#include <windows.h>
#include <commctrl.h>

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
