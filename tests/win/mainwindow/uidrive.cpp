// Drives the program's windows from another Windows process, for the
// screenshot script: finds a top-level window by its class name and posts it
// the messages a user's clicks and keys would make.
//   uidrive rect CLASS              prints "x y width height" of the window
//   uidrive click CLASS ID          a button click on the child control ID
//   uidrive key CLASS ID VK [N]     N presses (default 1) of the virtual key VK
//                                   on the child control ID
//   uidrive front CLASS             brings the window to the front
//   uidrive menu CLASS ID           the menu command ID (posted, so that a
//                                   modal window it opens does not block)
//   uidrive close CLASS             posts WM_CLOSE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: uidrive rect|click|key|front|menu|close CLASS [ID [VK [N]]]\n");
    return 2;
  }
  const char* verb = argv[1];
  HWND hwnd = FindWindowA(argv[2], nullptr);
  if (hwnd == nullptr) return 1;
  if (strcmp(verb, "rect") == 0) {
    RECT rect = {};
    if (!GetWindowRect(hwnd, &rect)) return 1;
    printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    return 0;
  }
  if (strcmp(verb, "front") == 0) {
    SetForegroundWindow(hwnd);
    return BringWindowToTop(hwnd) ? 0 : 1;
  }
  if (strcmp(verb, "close") == 0) return PostMessageA(hwnd, WM_CLOSE, 0, 0) ? 0 : 1;
  if (argc < 4) return 2;
  if (strcmp(verb, "menu") == 0) return PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(atoi(argv[3]), 0), 0) ? 0 : 1;
  const int id = atoi(argv[3]);
  HWND control = GetDlgItem(hwnd, id);
  if (control == nullptr) return 1;
  if (strcmp(verb, "click") == 0) {
    return PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control)) ? 0 : 1;
  }
  if (strcmp(verb, "key") == 0 && argc > 4) {
    const WPARAM key = static_cast<WPARAM>(strtoul(argv[4], nullptr, 0));
    const int count = argc > 5 ? atoi(argv[5]) : 1;
    for (int i = 0; i < count; ++i) {
      PostMessageA(control, WM_KEYDOWN, key, 1);
      PostMessageA(control, WM_KEYUP, key, 0xC0000001);
      Sleep(50);
    }
    return 0;
  }
  return 2;
}
