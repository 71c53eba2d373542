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
//   wmsend visible CLASS         exit 0 when the window is shown, 1 when not
//   wmsend focus CLASS           prints the id of the child control that has the
//                                keyboard focus in the window's thread (0: none)
//   wmsend checked CLASS ID      prints the check state of the button ID (0, 1 or 2)
//   wmsend client CLASS          prints the window's client area: "width height"
//   wmsend fits CLASS            exit 0 when the text of every visible button and
//                                static control fits the width of its box in
//                                the control's own font; prints each one that
//                                does not
//   wmsend dpi CLASS DPI         sends the window WM_DPICHANGED for DPI, as a move
//                                to a monitor of that scale does (no suggested
//                                place: the window keeps its own)
// The probe is DPI aware, so that it reads the window's pixels as they are.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
struct Count {
  const char* cls;
  int n;
};
// Each visible button or static control whose text is wider than its box
// (for a check box or radio button: beside the box it draws) is printed.
// Only the width counts: a static line may be a little lower than the
// font's cell, whose leading it does not draw.
struct Fit {
  int misfits;
};
BOOL CALLBACK CheckFit(HWND control, LPARAM context) {
  auto* fit = reinterpret_cast<Fit*>(context);
  char cls[64] = {};
  char text[512] = {};
  if (!IsWindowVisible(control) || GetClassNameA(control, cls, sizeof(cls)) == 0) return TRUE;
  const bool button = lstrcmpiA(cls, "Button") == 0;
  if (!button && lstrcmpiA(cls, "Static") != 0) return TRUE;
  if (GetWindowTextA(control, text, sizeof(text)) == 0) return TRUE;
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  RECT needed = {0, 0, 0, 0};
  // As the control draws it: "&" marks the mnemonic (static controls
  // without SS_NOPREFIX, buttons).
  DrawTextA(dc, text, -1, &needed, DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  RECT box = {};
  GetClientRect(control, &box);
  const LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
  int beside = 0;
  if (button && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                 type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE)) {
    beside = GetSystemMetrics(SM_CXMENUCHECK) + 4;
  } else if (button) {
    beside = 6;  // the push button's frame
  }
  if (needed.right + beside > box.right) {
    printf("%d \"%s\": needs %ld pixels, has %ld\n", GetDlgCtrlID(control), text, needed.right + beside, box.right);
    ++fit->misfits;
  }
  return TRUE;
}

BOOL CALLBACK CountWindow(HWND hwnd, LPARAM context) {
  auto* count = reinterpret_cast<Count*>(context);
  char name[256] = {};
  if (GetClassNameA(hwnd, name, sizeof(name)) > 0 && strcmp(name, count->cls) == 0) ++count->n;
  return TRUE;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr,
            "usage: wmsend find|caption|text|close|wait|count|minimize|iconic|visible|focus|checked|client|fits|dpi "
            "CLASS [ID|SECONDS|DPI]\n");
    return 2;
  }
  SetProcessDPIAware();
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
  if (strcmp(verb, "visible") == 0) return IsWindowVisible(hwnd) ? 0 : 1;
  if (strcmp(verb, "focus") == 0) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info)) return 1;
    printf("%d\n", info.hwndFocus != nullptr && IsChild(hwnd, info.hwndFocus) ? GetDlgCtrlID(info.hwndFocus) : 0);
    return 0;
  }
  if (strcmp(verb, "checked") == 0 && argc > 3) {
    HWND control = GetDlgItem(hwnd, atoi(argv[3]));
    if (control == nullptr) return 1;
    printf("%d\n", static_cast<int>(SendMessageA(control, BM_GETCHECK, 0, 0)));
    return 0;
  }
  if (strcmp(verb, "client") == 0) {
    RECT client = {};
    if (!GetClientRect(hwnd, &client)) return 1;
    printf("%ld %ld\n", client.right, client.bottom);
    return 0;
  }
  if (strcmp(verb, "dpi") == 0 && argc > 3) {
    const int dpi = atoi(argv[3]);
    if (dpi <= 0 || dpi > 0xFFFF) return 2;
    SendMessageA(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), 0);
    return 0;
  }
  if (strcmp(verb, "fits") == 0) {
    Fit fit = {0};
    EnumChildWindows(hwnd, &CheckFit, reinterpret_cast<LPARAM>(&fit));
    return fit.misfits == 0 ? 0 : 1;
  }
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
