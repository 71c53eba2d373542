// A small probe for the GUI tests: finds the program's top-level window by its
// class name and reads or closes it from another Windows process.
//   wmsend find CLASS            exit 0 when the window exists
//   wmsend caption CLASS         prints the window's caption
//   wmsend text CLASS ID         prints the text of the child control ID
//   wmsend close CLASS           posts WM_CLOSE to the window
//   wmsend wait CLASS SECONDS    waits until the window exists
//   wmsend count CLASS           prints how many top-level windows of the class exist
//   wmsend minimize CLASS        minimizes the window
//   wmsend iconic CLASS          exit 0 when the window is minimized, 1 when not
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
struct Count {
  const char* cls;
  int n;
};
BOOL CALLBACK CountWindow(HWND hwnd, LPARAM context) {
  auto* count = reinterpret_cast<Count*>(context);
  char name[256] = {};
  if (GetClassNameA(hwnd, name, sizeof(name)) > 0 && strcmp(name, count->cls) == 0) ++count->n;
  return TRUE;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: wmsend find|caption|text|close|wait|count|minimize|iconic CLASS [ID|SECONDS]\n");
    return 2;
  }
  const char* verb = argv[1];
  const char* cls = argv[2];
  if (strcmp(verb, "wait") == 0) {
    int seconds = argc > 3 ? atoi(argv[3]) : 30;
    for (int i = 0; i < seconds * 10; ++i) {
      if (FindWindowA(cls, nullptr) != nullptr) return 0;
      Sleep(100);
    }
    return 1;
  }
  if (strcmp(verb, "count") == 0) {
    Count count = {cls, 0};
    EnumWindows(&CountWindow, reinterpret_cast<LPARAM>(&count));
    printf("%d\n", count.n);
    return 0;
  }
  HWND hwnd = FindWindowA(cls, nullptr);
  if (hwnd == nullptr) return 1;
  if (strcmp(verb, "minimize") == 0) {
    ShowWindow(hwnd, SW_MINIMIZE);
    return IsIconic(hwnd) ? 0 : 1;
  }
  if (strcmp(verb, "iconic") == 0) return IsIconic(hwnd) ? 0 : 1;
  char text[1024] = {};
  if (strcmp(verb, "find") == 0) return 0;
  if (strcmp(verb, "caption") == 0) {
    GetWindowTextA(hwnd, text, sizeof(text));
    printf("%s\n", text);
    return 0;
  }
  if (strcmp(verb, "text") == 0 && argc > 3) {
    HWND control = GetDlgItem(hwnd, atoi(argv[3]));
    if (control == nullptr) return 1;
    SendMessageA(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    printf("%s\n", text);
    return 0;
  }
  if (strcmp(verb, "close") == 0) return PostMessageA(hwnd, WM_CLOSE, 0, 0) ? 0 : 1;
  return 2;
}
