// Pokes the program's main window from outside, for the end-to-end tests.
//   e2eprobe drop CLASS FILE...    drops the files on the window
//   e2eprobe command CLASS ID      posts WM_COMMAND with the id (a menu item)
//   e2eprobe text CLASS ID         prints the text of the window's control ID
//   e2eprobe stats CLASS           prints the window's process's private bytes,
//                                  handle count, working set and CPU time
//   e2eprobe click CLASS ID [SHOWN MS]
//                                  clicks the child button ID (its BN_CLICKED
//                                  is posted to the window); with SHOWN, waits
//                                  up to MS for a visible window of that class
//                                  and prints "shown_ms=N" (exit 1: none)
//   e2eprobe ping CLASS MS         sends the window WM_NULL and prints how long
//                                  its thread took to answer, "reply_ms=N"
//                                  (exit 1: no answer within MS)
//   e2eprobe close CLASS MS        posts WM_CLOSE and waits up to MS for the
//                                  window's process to end; prints
//                                  "ended_ms=N" (exit 1: still running)
//   e2eprobe pick CLASS ID TEXT    picks the entry TEXT of the drop-down list
//                                  ID as a user's keys do: the entry's first
//                                  letter, typed until it is the selection
//                                  (the list tells the window each change);
//                                  exit 1 when no entry has that text
//   e2eprobe levels CLASS LEFT RIGHT
//                                  whether the level display shows the two
//                                  lines: what is on the screen there, against
//                                  the lines drawn as the program draws them
//                                  ("levels=same", or "levels=differ
//                                  pixels=N" and exit 1)
//
// The drop is what the shell's drag and drop does: the DROPFILES block is written into the target process (a block of
// fixed memory there, which GlobalLock hands back as it is) and WM_DROPFILES
// is posted with it. Test equipment only: the block is not the global-memory
// object that DragFinish expects to free, and it stays allocated.
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// The files' names are taken from the wide command line and dropped wide
// (fWide), so that a name in any language arrives whole whatever the code
// page.
int Drop(HWND hwnd, int first) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 1;
  std::vector<char> block(sizeof(DROPFILES));
  DROPFILES header = {};
  header.pFiles = sizeof(DROPFILES);
  header.pt.x = 10;
  header.pt.y = 10;
  header.fNC = FALSE;
  header.fWide = TRUE;
  memcpy(block.data(), &header, sizeof(header));
  for (int i = first; i < argc; ++i) {
    const char* bytes = reinterpret_cast<const char*>(argv[i]);
    block.insert(block.end(), bytes, bytes + (wcslen(argv[i]) + 1) * sizeof(wchar_t));
  }
  LocalFree(argv);
  block.push_back('\0');
  block.push_back('\0');

  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
  if (process == nullptr) {
    fprintf(stderr, "e2eprobe: OpenProcess failed: %lu\n", GetLastError());
    return 1;
  }
  void* remote = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  SIZE_T written = 0;
  const bool ok = remote != nullptr && WriteProcessMemory(process, remote, block.data(), block.size(), &written) &&
                  written == block.size();
  CloseHandle(process);
  if (!ok) {
    fprintf(stderr, "e2eprobe: cannot write into the process: %lu\n", GetLastError());
    return 1;
  }
  return PostMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0) ? 0 : 1;
}

uint64_t Ms(const FILETIME& t) {
  return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000u;
}

int Stats(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (process == nullptr) {
    fprintf(stderr, "e2eprobe: OpenProcess failed: %lu\n", GetLastError());
    return 1;
  }
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof(memory);
  DWORD handles = 0;
  FILETIME created, exited, kernel, user;
  const bool ok = GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)) &&
                  GetProcessHandleCount(process, &handles) &&
                  GetProcessTimes(process, &created, &exited, &kernel, &user);
  CloseHandle(process);
  if (!ok) {
    fprintf(stderr, "e2eprobe: cannot read the process's counters: %lu\n", GetLastError());
    return 1;
  }
  printf("private_bytes=%llu handles=%lu working_set=%llu cpu_ms=%llu\n",
         static_cast<unsigned long long>(memory.PrivateUsage), handles,
         static_cast<unsigned long long>(memory.WorkingSetSize),
         static_cast<unsigned long long>(Ms(kernel) + Ms(user)));
  return 0;
}

// WM_GETTEXT is carried across processes by the system; a hung window gives
// up after 2 s.
int Text(HWND hwnd, int id) {
  HWND control = GetDlgItem(hwnd, id);
  if (control == nullptr) {
    fprintf(stderr, "e2eprobe: no control %d\n", id);
    return 1;
  }
  char text[256] = {};
  DWORD_PTR length = 0;
  if (SendMessageTimeoutA(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                          &length) == 0) {
    fprintf(stderr, "e2eprobe: the window did not answer\n");
    return 1;
  }
  printf("%s\n", text);
  return 0;
}

double MsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int Click(HWND hwnd, int id, const char* shownClass, int timeoutMs) {
  HWND button = GetDlgItem(hwnd, id);
  if (button == nullptr) {
    fprintf(stderr, "e2eprobe: no control %d\n", id);
    return 1;
  }
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  if (!PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button))) return 1;
  if (shownClass == nullptr) return 0;
  for (;;) {
    HWND shown = FindWindowA(shownClass, nullptr);
    if (shown != nullptr && IsWindowVisible(shown)) {
      printf("shown_ms=%.0f\n", MsSince(start));
      return 0;
    }
    if (MsSince(start) > timeoutMs) break;
    Sleep(2);
  }
  printf("shown_ms=none\n");
  return 1;
}

int Ping(HWND hwnd, int timeoutMs) {
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  DWORD_PTR result = 0;
  if (SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(timeoutMs), &result) == 0) {
    printf("reply_ms=none\n");
    return 1;
  }
  printf("reply_ms=%.0f\n", MsSince(start));
  return 0;
}

int Close(HWND hwnd, int timeoutMs) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) {
    fprintf(stderr, "e2eprobe: OpenProcess failed: %lu\n", GetLastError());
    return 1;
  }
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  const bool posted = PostMessageA(hwnd, WM_CLOSE, 0, 0) != 0;
  const bool ended = posted && WaitForSingleObject(process, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
  CloseHandle(process);
  if (!ended) {
    printf("ended_ms=none\n");
    return 1;
  }
  printf("ended_ms=%.0f\n", MsSince(start));
  return 0;
}

int Pick(HWND hwnd, int id, const char* text) {
  HWND list = GetDlgItem(hwnd, id);
  if (list == nullptr || text[0] == '\0') {
    fprintf(stderr, "e2eprobe: no control %d\n", id);
    return 1;
  }
  DWORD_PTR result = 0;
  auto send = [&](UINT message, WPARAM wParam, LPARAM lParam) {
    if (SendMessageTimeoutA(list, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result) == 0) return LRESULT(-2);
    return static_cast<LRESULT>(result);
  };
  const LRESULT wanted = send(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
  const LRESULT count = send(CB_GETCOUNT, 0, 0);
  if (wanted < 0 || count <= 0) {
    fprintf(stderr, "e2eprobe: no entry \"%s\" in control %d\n", text, id);
    return 1;
  }
  // The character goes to the list as the keyboard's translation would hand
  // it on; sent, it has been handled, the window told, when the call returns.
  for (LRESULT typed = 0; typed <= count; ++typed) {
    if (send(CB_GETCURSEL, 0, 0) == wanted) return 0;
    send(WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(text[0])), 1);
  }
  fprintf(stderr, "e2eprobe: typing '%c' does not select \"%s\"\n", text[0], text);
  return 1;
}

// The level display as the program draws it (src/ui/Gdi.cpp): 50 x 34 pixels
// at (226, 30) of the client area in the dialog font 14 pixels high, each
// line right-aligned, on the button face colour.
constexpr int kLevelsX = 226, kLevelsY = 30, kLevelsWidth = 50, kLevelsHeight = 34;

std::vector<uint32_t> Pixels(HDC dc, HBITMAP bitmap) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = kLevelsWidth;
  info.bmiHeader.biHeight = -kLevelsHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(kLevelsWidth * kLevelsHeight);
  if (GetDIBits(dc, bitmap, 0, kLevelsHeight, pixels.data(), &info, DIB_RGB_COLORS) != kLevelsHeight) pixels.clear();
  return pixels;
}

int Levels(HWND hwnd, const char* left, const char* right) {
  POINT origin = {kLevelsX, kLevelsY};
  ClientToScreen(hwnd, &origin);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP shown = CreateCompatibleBitmap(screen, kLevelsWidth, kLevelsHeight);
  HBITMAP drawn = CreateCompatibleBitmap(screen, kLevelsWidth, kLevelsHeight);
  HGDIOBJ old = SelectObject(memory, shown);
  BitBlt(memory, 0, 0, kLevelsWidth, kLevelsHeight, screen, origin.x, origin.y, SRCCOPY);

  LOGFONTA face = {};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(face), &face);
  face.lfHeight = 14;
  face.lfWidth = 0;
  HFONT font = CreateFontIndirectA(&face);
  SelectObject(memory, drawn);
  HGDIOBJ oldFont = SelectObject(memory, font);
  SetBkColor(memory, GetSysColor(COLOR_BTNFACE));
  RECT all = {0, 0, kLevelsWidth, kLevelsHeight};
  FillRect(memory, &all, GetSysColorBrush(COLOR_BTNFACE));
  RECT line1 = {0, 0, kLevelsWidth, 14};
  DrawTextA(memory, left, -1, &line1, DT_RIGHT | DT_NOCLIP);
  RECT line2 = {0, 20, kLevelsWidth, 34};
  DrawTextA(memory, right, -1, &line2, DT_RIGHT | DT_NOCLIP);
  SelectObject(memory, oldFont);
  SelectObject(memory, old);

  const std::vector<uint32_t> a = Pixels(memory, shown), b = Pixels(memory, drawn);
  DeleteObject(font);
  DeleteObject(shown);
  DeleteObject(drawn);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (a.empty() || b.empty()) {
    fprintf(stderr, "e2eprobe: cannot read the screen\n");
    return 2;
  }
  int differ = 0;
  for (size_t i = 0; i < a.size(); ++i) differ += (a[i] & 0xFFFFFF) != (b[i] & 0xFFFFFF);
  if (differ == 0) {
    printf("levels=same\n");
    return 0;
  }
  printf("levels=differ pixels=%d\n", differ);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (argc < 4 && strcmp(argv[1], "stats") != 0)) {
    fprintf(stderr,
            "usage: e2eprobe drop CLASS FILE... | command CLASS ID | text CLASS ID | stats CLASS |"
            " click CLASS ID [SHOWN MS] | close CLASS MS | ping CLASS MS | pick CLASS ID TEXT |"
            " levels CLASS LEFT RIGHT\n");
    return 2;
  }
  HWND hwnd = FindWindowA(argv[2], nullptr);
  if (hwnd == nullptr) {
    fprintf(stderr, "e2eprobe: no window of class %s\n", argv[2]);
    return 1;
  }
  if (strcmp(argv[1], "stats") == 0) return Stats(hwnd);
  if (strcmp(argv[1], "drop") == 0) return Drop(hwnd, 3);
  if (strcmp(argv[1], "command") == 0) return PostMessageA(hwnd, WM_COMMAND, atoi(argv[3]), 0) ? 0 : 1;
  if (strcmp(argv[1], "text") == 0) return Text(hwnd, atoi(argv[3]));
  if (strcmp(argv[1], "click") == 0) {
    return Click(hwnd, atoi(argv[3]), argc > 5 ? argv[4] : nullptr, argc > 5 ? atoi(argv[5]) : 0);
  }
  if (strcmp(argv[1], "close") == 0) return Close(hwnd, atoi(argv[3]));
  if (strcmp(argv[1], "ping") == 0) return Ping(hwnd, atoi(argv[3]));
  if (strcmp(argv[1], "pick") == 0 && argc > 4) return Pick(hwnd, atoi(argv[3]), argv[4]);
  if (strcmp(argv[1], "levels") == 0 && argc > 4) return Levels(hwnd, argv[3], argv[4]);
  return 2;
}
